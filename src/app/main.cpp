#include "Entry.h"

int main(int argc, char **argv) {
  return mirel::RunDownloader(argc, argv);
}
