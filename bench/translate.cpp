// Language tables: loading a 5,000-entry language file, and a million Translate calls beside a
// plain std::unordered_map lookup of the same texts (German text -> copy of the translation,
// which is what Translate hands back). Prints time per call and the ratio Translate / map.
#include "base/TextCodec.h"
#include "lang/Language.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace {

constexpr int kEntries = 5000;
constexpr int kAsked = 200; // distinct texts a window and a report ask for

struct Table {
    std::vector<std::string> german, english;
    std::string folder;
    std::string file;

    Table() {
        for (int i = 0; i < kEntries; ++i) {
            german.push_back("Übertragung zur Maschine Nr. " + std::to_string(i));
            english.push_back("Transfer to machine no. " + std::to_string(i));
        }
        folder = std::filesystem::temp_directory_path().string() + "/kelvane-bench-translate-" +
                 std::to_string(::getpid()) + "/";
        std::filesystem::create_directories(folder);
        file = folder + "bench.csv";
        std::string text;
        for (int i = 0; i < kEntries; ++i)
            text += DigestToHex(TextDigest(german[i])) + "\t" + english[i] + "\r\n";
        const std::string bytes = "\xFF\xFE" + Utf16ToBytes(Utf8ToUtf16(text), false);
        std::ofstream(file, std::ios::binary)
            .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    ~Table() {
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }
};

Table& TheTable() {
    static Table t;
    return t;
}

void LoadLanguageFile(benchmark::State& state) {
    Table& t = TheTable();
    for (auto _ : state) {
        CLanguage lang;
        const LanguageLoadResult r = lang.LoadLanguageFile(t.file);
        if (!r.Ok() || lang.Size() != kEntries)
            state.SkipWithError("language file did not load");
        benchmark::DoNotOptimize(lang.Size());
    }
}

CLanguage& Loaded() {
    static CLanguage lang;
    if (lang.Size() == 0)
        lang.LoadLanguageFile(TheTable().file);
    return lang;
}

void TranslateHit(benchmark::State& state) {
    Table& t = TheTable();
    CLanguage& lang = Loaded();
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(lang.Translate(t.german[(i++ % kAsked) * 7]));
    }
}

void TranslateMiss(benchmark::State& state) {
    Table& t = TheTable();
    CLanguage& lang = Loaded();
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(lang.Translate(t.english[(i++ % kAsked) * 7]));
    }
}

// Every call digests its text: UTF-16 texts do not go through the memo.
void TranslateDigestEveryCall(benchmark::State& state) {
    Table& t = TheTable();
    CLanguage& lang = Loaded();
    std::vector<std::u16string> asked;
    for (int k = 0; k < kAsked; ++k)
        asked.push_back(Utf8ToUtf16(t.german[k * 7]));
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(lang.Translate(std::u16string_view(asked[i++ % kAsked])));
    }
}

void UnorderedMapHit(benchmark::State& state) {
    Table& t = TheTable();
    std::unordered_map<std::string, std::string> map;
    for (int k = 0; k < kEntries; ++k)
        map.emplace(t.german[k], t.english[k]);
    size_t i = 0;
    for (auto _ : state) {
        const std::string& key = t.german[(i++ % kAsked) * 7];
        const auto it = map.find(key);
        benchmark::DoNotOptimize(it != map.end() ? it->second : key);
    }
}

BENCHMARK(LoadLanguageFile)->Unit(benchmark::kMillisecond);
BENCHMARK(TranslateHit)->Iterations(1000000);
BENCHMARK(TranslateMiss)->Iterations(1000000);
BENCHMARK(TranslateDigestEveryCall)->Iterations(1000000);
BENCHMARK(UnorderedMapHit)->Iterations(1000000);

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs)
            if (r.run_type == Run::RT_Iteration && !r.error_occurred)
                ns_[r.benchmark_name()] =
                    r.cpu_accumulated_time * 1e9 / static_cast<double>(r.iterations);
        ConsoleReporter::ReportRuns(runs);
    }
    void PrintRatios() const {
        const double base = Find("UnorderedMapHit");
        std::printf(
            "\nCPU time per call (ns) and ratio to std::unordered_map<std::string,std::string>:\n");
        for (const char* name :
             {"TranslateHit", "TranslateMiss", "TranslateDigestEveryCall", "UnorderedMapHit"}) {
            const double ns = Find(name);
            if (ns > 0 && base > 0)
                std::printf("  %-26s %9.1f ns  %6.2f x\n", name, ns, ns / base);
        }
        if (const double load = Find("LoadLanguageFile"); load > 0)
            std::printf("  %-26s %9.2f ms  (%d entries)\n", "LoadLanguageFile", load / 1e6,
                        kEntries);
    }

private:
    double Find(const std::string& prefix) const {
        for (const auto& [name, ns] : ns_)
            if (name.rfind(prefix, 0) == 0)
                return ns;
        return 0;
    }
    std::map<std::string, double> ns_;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    benchmark::Shutdown();
    return 0;
}
