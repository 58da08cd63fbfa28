// SHA-1 throughput on 64 MiB: TSHA1 against OpenSSL's SHA1.
#include "metainfo/MessageDigests.h"

#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <string>

namespace {

const std::string &Data() {
  static const std::string data = [] {
    std::string s(64u << 20, '\0');
    std::uint32_t x = 2463534242u;
    for (char &c : s) {
      x ^= x << 13;
      x ^= x >> 17;
      x ^= x << 5;
      c = static_cast<char>(x);
    }
    return s;
  }();
  return data;
}

void BM_Sha1Ours(benchmark::State &state) {
  const std::string &data = Data();
  mirel::detail::SetSha1HardwareAllowed(state.range(0) != 0);
  for (auto _ : state) {
    mirel::TSHA1 sha;
    sha.UpdateText(data);
    sha.Finish();
    benchmark::DoNotOptimize(sha.Digest().data());
  }
  mirel::detail::SetSha1HardwareAllowed(true);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
  state.SetLabel(state.range(0) && mirel::detail::Sha1HardwareAvailable() ? "SHA instructions"
                                                                          : "portable");
}
// 1: the SHA instructions where the processor has them; 0: the portable code.
BENCHMARK(BM_Sha1Ours)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

void BM_Sha1OpenSsl(benchmark::State &state) {
  const std::string &data = Data();
  for (auto _ : state) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    EVP_Digest(data.data(), data.size(), md, &len, EVP_sha1(), nullptr);
    benchmark::DoNotOptimize(md);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_Sha1OpenSsl)->Unit(benchmark::kMillisecond);

} // namespace
