# Kelvane: the two commands of the quick start are `make run` and `make test`.
SHELL := /bin/bash
JOBS  ?= $(shell nproc)
BUILD ?= build
ASAN  ?= build-asan
FUZZB ?= build-fuzz
TSANB ?= build-tsan
CMAKE_FLAGS ?=

# Debian packages the build, the tests and `make run` need; installed when missing.
PACKAGES := g++ cmake ninja-build pkg-config libgtest-dev libgmock-dev libbenchmark-dev \
            qt6-base-dev libgl-dev openssl libssl-dev binutils clang libclang-rt-14-dev \
            fonts-dejavu-core xauth xvfb qt6-translations-l10n \
            dpkg-dev librsvg2-bin lintian desktop-file-utils appstream man-db \
            bash-completion libsqlite3-dev nlohmann-json3-dev \
            postgresql postgresql-common libpq-dev ccache locales tidy

.PHONY: all deps build asan tsan test test-normal test-asan run sim fuzz bench format clean manual deb

all: build

deps:
	@missing=""; for p in $(PACKAGES); do \
	    dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	    echo "Installing:$$missing"; \
	    SUDO=""; [ "$$(id -u)" = 0 ] || SUDO=sudo; \
	    $$SUDO apt-get update -qq && \
	    DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y -qq --no-install-recommends $$missing; \
	fi
	@# The German number formats are tested in the German locale.
	@if ! locale -a 2>/dev/null | grep -qix 'de_DE\.utf-\?8'; then \
	    echo "Generating the locale de_DE.UTF-8"; \
	    SUDO=""; [ "$$(id -u)" = 0 ] || SUDO=sudo; \
	    $$SUDO sed -i 's/^# *\(de_DE.UTF-8 UTF-8\)/\1/' /etc/locale.gen; \
	    grep -qx 'de_DE.UTF-8 UTF-8' /etc/locale.gen || \
	        echo 'de_DE.UTF-8 UTF-8' | $$SUDO tee -a /etc/locale.gen >/dev/null; \
	    $$SUDO locale-gen >/dev/null; \
	fi

# The builds this Makefile configures (those of `make test`) treat warnings as errors; a build
# folder configured by hand keeps its own setting.
TEST_FLAGS := -DKELVANE_WERROR=ON

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(TEST_FLAGS) $(CMAKE_FLAGS)


# Under the sanitizers only what tests run: no benchmarks, fuzz corpora or package.
$(ASAN)/build.ninja:
	cmake -S . -B $(ASAN) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKELVANE_SANITIZE=ON -DKELVANE_BENCH=OFF \
	    -DKELVANE_FUZZ_CORPORA=OFF -DKELVANE_PACKAGE=OFF $(TEST_FLAGS) $(CMAKE_FLAGS)

# ThreadSanitizer: the tests labelled "threads" (tests/CMakeLists.txt), without the window.
TSAN_TARGETS := test_sim test_lang test_link test_history kelvane-cli kelvane-sim
$(TSANB)/build.ninja:
	cmake -S . -B $(TSANB) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVANE_TSAN=ON \
	    -DKELVANE_GUI=OFF -DKELVANE_BENCH=OFF -DKELVANE_FUZZ_CORPORA=OFF -DKELVANE_PACKAGE=OFF \
	    $(TEST_FLAGS) $(CMAKE_FLAGS)

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

asan: deps $(ASAN)/build.ninja
	cmake --build $(ASAN) -j $(JOBS)

test-normal: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-asan: asan
	cd $(ASAN) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 ctest --output-on-failure -j $(JOBS)

tsan: deps $(TSANB)/build.ninja
	cmake --build $(TSANB) -j $(JOBS) --target $(TSAN_TARGETS)
	cd $(TSANB) && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
	    ctest --output-on-failure -j $(JOBS) -L threads

# Every test, in a normal build and under AddressSanitizer + UndefinedBehaviorSanitizer.
test: test-normal test-asan

run: build
	@./tools/run.sh $(BUILD)

# The Debian package kelvane_<version>_amd64.deb in $(BUILD)/, made from this build, then
# checked by lintian (errors fail; the kept warnings are listed in packaging/README.md).
deb: deps $(BUILD)/build.ninja
	cmake -S . -B $(BUILD) >/dev/null # takes up tools installed since the first configure
	cmake --build $(BUILD) -j $(JOBS)
	rm -f $(BUILD)/kelvane_*.deb
	cd $(BUILD) && cpack -G DEB -B $(CURDIR)/$(BUILD)
	lintian --fail-on error $(BUILD)/kelvane_*_amd64.deb

bench: build
	@for b in $(BUILD)/bin/bench_*; do echo "== $$b"; "$$b" || exit 1; done

# libFuzzer targets with clang, each for a bounded time (FUZZ_SECONDS). One target alone, for a
# long run: make fuzz FUZZ_TARGET=template FUZZ_SECONDS=600 (names: the files in fuzz/).
FUZZ_SECONDS ?= 60
FUZZ_TARGET ?=
FUZZ_BINS = $(if $(FUZZ_TARGET),$(FUZZB)/fuzz/fuzz_$(FUZZ_TARGET),$(FUZZB)/fuzz/fuzz_*)
fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZB) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    -DKELVANE_FUZZ=ON -DKELVANE_GUI=OFF -DKELVANE_TESTS=OFF -DKELVANE_BENCH=OFF
	cmake --build $(FUZZB) -j $(JOBS) $(if $(FUZZ_TARGET),--target fuzz_$(FUZZ_TARGET))
	@mkdir -p fuzz-out; rc=0; for f in $(FUZZ_BINS); do \
	    n=$$(basename $$f); mkdir -p fuzz-out/$$n; \
	    echo "== $$n ($(FUZZ_SECONDS) s)"; \
	    $$f -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 fuzz-out/$$n fuzz/corpus/$${n#fuzz_} 2>&1 | grep -E "stat::number_of_executed_units|stat::average_exec_per_sec|ERROR|SUMMARY" ; \
	    test $${PIPESTATUS[0]} -eq 0 || rc=1; \
	done; exit $$rc

# The manual is committed; remake it after editing doc/manual.ms (needs Debian's groff).
manual:
	@command -v gropdf >/dev/null || { SUDO=""; [ "$$(id -u)" = 0 ] || SUDO=sudo; $$SUDO apt-get install -y -qq groff; }
	preconv -e utf-8 doc/manual.ms | groff -ms -Tpdf -P-pa4 > data/doc/manual.pdf.tmp && mv data/doc/manual.pdf.tmp data/doc/manual.pdf

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD) $(ASAN) $(FUZZB) $(TSANB)
