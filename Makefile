# make run    installs what is missing, builds and starts vorq
# make test   installs what is missing, checks the formatting, builds, and runs every test,
#             also under ASan and UBSan
# make deps   installs what is missing, now (the others do it once, then keep a stamp)
# make bench  builds in Release and prints the benchmark table: each row against its floor,
#             failing when a goal is missed (needs root); make bench-smoke runs it once
#             (part of make test)
# make fuzz   builds the display model's libFuzzer target with clang and fuzzes it for
#             FUZZ_SECONDS (default 300), from a seed corpus of every command of every set
# make deb    builds the Debian package

BUILD ?= build
SANITIZE_BUILD ?= build-sanitize
RELEASE_BUILD ?= build-release
JOBS ?= $(shell nproc)
SUDO := $(shell [ "$$(id -u)" -eq 0 ] || echo sudo)

# The set-up runs once per build folder, and again when the list of packages changes.
DEPS_STAMP := $(BUILD)/.deps-installed

.PHONY: all deps build run test test-plain test-sanitize test-installed format-check lint-ansible \
        deb-reproducible \
        bench bench-smoke fuzz deb clean

all: build

deps:
	@./scripts/install-deps

$(DEPS_STAMP): scripts/install-deps
	@./scripts/install-deps
	@mkdir -p $(BUILD) && touch $@

build: $(DEPS_STAMP)
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/app/vorq

# Every test runs isolated (tests/isolate.cpp); scripts/untouched then checks that the
# machine's own settings, write records and lock folder are as they were before.
test: $(DEPS_STAMP)
	@mkdir -p $(BUILD)
	./scripts/untouched save $(BUILD)/untouched.before
	$(MAKE) format-check lint-ansible test-plain test-sanitize bench-smoke
	./scripts/untouched check $(BUILD)/untouched.before

# The sources as clang-format would write them (.clang-format holds the style).
format-check: $(DEPS_STAMP)
	clang-format --dry-run --Werror $$(git ls-files '*.cpp' '*.h')

# The Ansible role and its examples, with the linters' strictest settings (ansible/.ansible-lint
# and ansible/.yamllint).
lint-ansible: $(DEPS_STAMP)
	cd ansible && yamllint --strict . ../tests/fleet/true-play.yml && ansible-lint

test-plain: $(DEPS_STAMP)
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORQ_WERROR=ON -DVORQ_BENCH=ON
	cmake --build $(BUILD) -j $(JOBS)
	cd $(BUILD) && ctest --output-on-failure -j 2

test-sanitize: $(DEPS_STAMP)
	cmake -S . -B $(SANITIZE_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVORQ_SANITIZE=ON -DVORQ_WERROR=ON
	cmake --build $(SANITIZE_BUILD) -j $(JOBS)
	cd $(SANITIZE_BUILD) && ctest --output-on-failure -j 2 -LE fleet

# Built afresh with Debian's hardening flags (fortify, stack protector, relro, bind-now, PIE),
# as dpkg-buildflags gives them; cpack strips the binaries.
# Reproducible: file times are clamped to the date of the latest changelog entry.
deb: export SOURCE_DATE_EPOCH = $(shell dpkg-parsechangelog -l packaging/changelog -STimestamp)
deb: $(DEPS_STAMP)
	rm -rf $(RELEASE_BUILD)
	export DEB_BUILD_MAINT_OPTIONS=hardening=+all; \
	cmake -S . -B $(RELEASE_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
	  -DCMAKE_CXX_FLAGS="$$(dpkg-buildflags --get CPPFLAGS) $$(dpkg-buildflags --get CXXFLAGS)" \
	  -DCMAKE_EXE_LINKER_FLAGS="$$(dpkg-buildflags --get LDFLAGS)"
	cmake --build $(RELEASE_BUILD) -j $(JOBS)
	cd $(RELEASE_BUILD) && cpack -G DEB

# Builds the package twice, afresh each time, and fails unless both are the same bytes.
deb-reproducible:
	$(MAKE) deb
	sha256sum $(RELEASE_BUILD)/vorq_*.deb | sed 's|$(RELEASE_BUILD)/||' > reproducible.sha256
	$(MAKE) deb
	cd $(RELEASE_BUILD) && sha256sum -c ../reproducible.sha256
	rm reproducible.sha256

# Checks the package built by `make deb` with Debian's own tools (lintian fails on any error
# or warning; the info tags it may still show are explained in packaging/lintian-info.txt),
# validates the desktop entry and the metainfo, installs the package and runs the
# end-to-end tests on /usr/bin/vorq.
test-installed: deb-reproducible build
	lintian --pedantic --fail-on error,warning $(RELEASE_BUILD)/vorq_*.deb
	desktop-file-validate packaging/org.vorq.VORQ.desktop
	appstreamcli validate --no-net packaging/org.vorq.VORQ.metainfo.xml
	$(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --reinstall ./$(RELEASE_BUILD)/vorq_*.deb
	man -l /usr/share/man/man1/vorq-write.1.gz > /dev/null
	cd $(BUILD) && VORQ_BINARY=/usr/bin/vorq VORQ_WRITE=/usr/bin/vorq-write ctest --output-on-failure -L e2e

# The benchmark's table, every row against its floor (bench/vorq_bench.cpp); it fails when a
# goal is missed. VORQ_BENCH_RUNS sets the runs of each row (default 11).
BENCH_BUILD ?= build-bench
bench: $(DEPS_STAMP)
	cmake -S . -B $(BENCH_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DVORQ_BENCH=ON
	cmake --build $(BENCH_BUILD) -j $(JOBS)
	$(BENCH_BUILD)/tests/isolate $(BENCH_BUILD)/bench/vorq_bench

# The same table with one run of each row, on the test build: it fails only when a row cannot
# be measured.
bench-smoke: $(DEPS_STAMP)
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORQ_WERROR=ON -DVORQ_BENCH=ON
	cmake --build $(BUILD) -j $(JOBS)
	VORQ_BENCH_RUNS=1 $(BUILD)/tests/isolate $(BUILD)/bench/vorq_bench

FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 300
fuzz: $(DEPS_STAMP)
	command -v clang++ > /dev/null || $(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get install -y -q clang
	cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug \
	  -DVORQ_SANITIZE=ON -DVORQ_FUZZ=ON
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzz_display fuzz_display_run isolate
	rm -rf $(FUZZ_BUILD)/corpus
	$(FUZZ_BUILD)/tests/fuzz_display_run --write-corpus $(FUZZ_BUILD)/corpus
	$(FUZZ_BUILD)/tests/isolate $(FUZZ_BUILD)/tests/fuzz_display -max_total_time=$(FUZZ_SECONDS) \
	  -max_len=4096 -print_final_stats=1 $(FUZZ_BUILD)/corpus

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD) $(RELEASE_BUILD) $(BENCH_BUILD) $(FUZZ_BUILD)
