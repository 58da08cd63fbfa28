// Filled in once the real engine's behaviour is pinned down.
#include <gtest/gtest.h>
