// Throughput of our SHA-1 and AES-256-CBC beside OpenSSL's on the same buffers; prints the
// time ratio ours / OpenSSL per buffer size (1.0 = as fast, 2.0 = twice as slow).
#include "crypto/Rijndael.h"
#include "crypto/SHA1.h"

#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> Buffer(size_t n) {
    std::mt19937 rng(42);
    std::vector<uint8_t> b(n);
    for (auto& x : b) {
        x = static_cast<uint8_t>(rng());
    }
    return b;
}

const uint8_t kKey[32] = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16,
                          17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32};
const uint8_t kIv[16] = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 1, 2, 3, 4, 5, 6};

void Sha1Ours(benchmark::State& state) {
    const auto data = Buffer(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(SHA1::Compute(data.data(), data.size()));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void Sha1OpenSSL(benchmark::State& state) {
    const auto data = Buffer(static_cast<size_t>(state.range(0)));
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned len = 0;
    for (auto _ : state) {
        EVP_DigestInit_ex(ctx, EVP_sha1(), nullptr);
        EVP_DigestUpdate(ctx, data.data(), data.size());
        EVP_DigestFinal_ex(ctx, out, &len);
        benchmark::DoNotOptimize(out);
    }
    EVP_MD_CTX_free(ctx);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void AesCbcOurs(benchmark::State& state) {
    const auto data = Buffer(static_cast<size_t>(state.range(0)));
    std::vector<uint8_t> out(data.size());
    for (auto _ : state) {
        CRijndael aes; // one object per message, as the program uses it
        aes.InitKey(kKey, kIv, 32, 16);
        aes.EncryptBuffer(data.data(), out.data(), data.size(), CRijndael::CBC);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void AesCbcOpenSSL(benchmark::State& state) {
    const auto data = Buffer(static_cast<size_t>(state.range(0)));
    std::vector<uint8_t> out(data.size() + 16);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    for (auto _ : state) {
        int n = 0;
        EVP_EncryptInit_ex(ctx, EVP_aes_256_cbc(), nullptr, kKey, kIv);
        EVP_CIPHER_CTX_set_padding(ctx, 0);
        EVP_EncryptUpdate(ctx, out.data(), &n, data.data(), static_cast<int>(data.size()));
        EVP_EncryptFinal_ex(ctx, out.data() + n, &n);
        benchmark::DoNotOptimize(out.data());
    }
    EVP_CIPHER_CTX_free(ctx);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void AesCbcDecryptOurs(benchmark::State& state) {
    const auto data = Buffer(static_cast<size_t>(state.range(0)));
    std::vector<uint8_t> out(data.size());
    for (auto _ : state) {
        CRijndael aes;
        aes.InitKey(kKey, kIv, 32, 16);
        aes.DecryptBuffer(data.data(), out.data(), data.size(), CRijndael::CBC);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void AesCbcDecryptOpenSSL(benchmark::State& state) {
    const auto data = Buffer(static_cast<size_t>(state.range(0)));
    std::vector<uint8_t> out(data.size() + 16);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    for (auto _ : state) {
        int n = 0;
        EVP_DecryptInit_ex(ctx, EVP_aes_256_cbc(), nullptr, kKey, kIv);
        EVP_CIPHER_CTX_set_padding(ctx, 0);
        EVP_DecryptUpdate(ctx, out.data(), &n, data.data(), static_cast<int>(data.size()));
        EVP_DecryptFinal_ex(ctx, out.data() + n, &n);
        benchmark::DoNotOptimize(out.data());
    }
    EVP_CIPHER_CTX_free(ctx);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

// 48 bytes: a sealed digest; 512: a parameter image; 256 KiB: a firmware image.
#define SIZES Arg(48)->Arg(512)->Arg(256 * 1024)
BENCHMARK(Sha1Ours)->Arg(423)->Arg(256 * 1024);
BENCHMARK(Sha1OpenSSL)->Arg(423)->Arg(256 * 1024);
BENCHMARK(AesCbcOurs)->SIZES;
BENCHMARK(AesCbcOpenSSL)->SIZES;
BENCHMARK(AesCbcDecryptOurs)->SIZES;
BENCHMARK(AesCbcDecryptOpenSSL)->SIZES;

// Console output as usual, and the time per iteration of every run kept for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs) {
            if (r.run_type == Run::RT_Iteration && !r.error_occurred) {
                times_[r.benchmark_name()] = r.GetAdjustedCPUTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void PrintRatios() const {
        std::printf("\nours / OpenSSL (CPU time per buffer; >1 means ours is slower):\n");
        for (const auto& [name, ours] : times_) {
            const size_t pos = name.find("Ours/");
            if (pos == std::string::npos) {
                continue;
            }
            const std::string other = name.substr(0, pos) + "OpenSSL/" + name.substr(pos + 5);
            const auto it = times_.find(other);
            if (it != times_.end() && it->second > 0) {
                std::printf("  %-32s %8.2f\n", name.c_str(), ours / it->second);
            }
        }
    }

private:
    std::map<std::string, double> times_;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    benchmark::Shutdown();
    return 0;
}
