# make run             installs what is missing, builds and starts vorq
# make test            installs what is missing, checks the formatting and the Ansible role,
#                      builds, and runs every test, also under ASan and UBSan
# make deps            installs what is missing now, the packaging tools too (the others
#                      install what they need once, then keep a stamp)
# make build           the plain build alone (build/); make all is the same
# make build-plain, make build-sanitize
#                      the two trees that make test builds (build/, build-sanitize/)
# make test-plain, make test-sanitize, make test-fleet
#                      one part of make test each (the fleet rollout needs root)
# make format-check    clang-format over every source; make lint-ansible: yamllint and
#                      ansible-lint over the role
# make bench           builds in Release and prints the benchmark table: each row against
#                      its floor, failing when a goal is missed (needs root); make
#                      bench-smoke runs it once (part of make test)
# make fuzz            builds the display model's libFuzzer target with clang (installs clang
#                      when missing) and fuzzes it for FUZZ_SECONDS (default 300), from a
#                      starting corpus of every command of every set
# make deb             builds the Debian packages (vorq and vorq-dbgsym) with
#                      dpkg-buildpackage; make deb-reproducible builds them twice and compares
# make test-installed  checks the packages with lintian and the validators, then, as root
#                      (through sudo otherwise), removes any installed vorq, has the role
#                      install the new package on a till, and runs autopkgtest on it
# make clean           removes every build folder
#
# Every target that installs packages does so with apt-get, through sudo when not root.

BUILD ?= build
SANITIZE_BUILD ?= build-sanitize
JOBS ?= $(shell nproc)
SUDO := $(shell [ "$$(id -u)" -eq 0 ] || echo sudo)

# The set-up runs once per build folder, and again when the list of packages changes: first
# what building needs, then what testing needs (make test installs the latter while the code
# compiles); the Debian package's tools are installed only for the targets that build or check
# it.
BUILD_DEPS_STAMP := $(BUILD)/.build-deps-installed
DEPS_STAMP := $(BUILD)/.deps-installed
PACKAGING_STAMP := $(BUILD)/.packaging-deps-installed

# The trees that make test builds: the plain one (with the benchmark, for its smoke run) and the
# sanitizers' one; each compiles its libraries as a few large files (the Debian package's build
# compiles every file on its own).
PLAIN_CONFIG := -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORQ_WERROR=ON -DVORQ_BENCH=ON -DVORQ_UNITY=ON
SANITIZE_CONFIG := -DCMAKE_BUILD_TYPE=Debug -DVORQ_SANITIZE=ON -DVORQ_WERROR=ON -DVORQ_UNITY=ON

.PHONY: all deps build run test test-plain test-sanitize build-plain build-sanitize \
        test-fleet test-installed format-check lint-ansible deb-reproducible \
        bench bench-smoke fuzz deb clean

all: build

deps:
	@./scripts/install-deps packaging

$(BUILD_DEPS_STAMP): scripts/install-deps
	@./scripts/install-deps build
	@mkdir -p $(BUILD) && touch $@

$(DEPS_STAMP): $(BUILD_DEPS_STAMP)
	@./scripts/install-deps
	@mkdir -p $(BUILD) && touch $@

$(PACKAGING_STAMP): $(DEPS_STAMP)
	@./scripts/install-deps packaging
	@mkdir -p $(BUILD) && touch $@

build: $(BUILD_DEPS_STAMP)
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/app/vorq

# Every test runs isolated (tests/isolate.cpp); scripts/untouched then checks that the
# machine's own settings, write records and lock folder are as they were before. Two steps
# share the machine: the tests' packages install while the plain tree compiles; the fleet
# rollout and the benchmark's smoke run (neither of which times anything) run while the
# sanitizers' tree compiles. The end-to-end tests run on a machine doing nothing else.
test: $(BUILD_DEPS_STAMP)
	./scripts/untouched save $(BUILD)/untouched.before
	$(MAKE) -j2 -Otarget $(DEPS_STAMP) build-plain
	$(MAKE) format-check lint-ansible test-plain PLAIN_TESTS="-LE fleet"
	$(MAKE) -j3 -Otarget build-sanitize bench-smoke test-fleet
	$(MAKE) test-sanitize
	./scripts/untouched check $(BUILD)/untouched.before

# The sources as clang-format would write them (.clang-format holds the style).
format-check: $(DEPS_STAMP)
	clang-format --dry-run --Werror $$(git ls-files '*.cpp' '*.h')

# The Ansible role and its examples, with the linters' strictest settings (ansible/.ansible-lint
# and ansible/.yamllint).
lint-ansible: $(DEPS_STAMP)
	cd ansible && yamllint --strict . ../tests/fleet/true-play.yml && ansible-lint

build-plain: $(BUILD_DEPS_STAMP)
	cmake -S . -B $(BUILD) -G Ninja $(PLAIN_CONFIG)
	cmake --build $(BUILD) -j $(JOBS)

# PLAIN_TESTS: ctest's selection of the plain tree's tests (all of them by default).
PLAIN_TESTS ?=
test-plain: $(DEPS_STAMP) build-plain
	cd $(BUILD) && ctest --output-on-failure -j 2 $(PLAIN_TESTS)

test-fleet: $(DEPS_STAMP) build-plain
	cd $(BUILD) && ctest --output-on-failure -L fleet

build-sanitize: $(BUILD_DEPS_STAMP)
	cmake -S . -B $(SANITIZE_BUILD) -G Ninja $(SANITIZE_CONFIG)
	cmake --build $(SANITIZE_BUILD) -j $(JOBS)

test-sanitize: $(DEPS_STAMP) build-sanitize
	cd $(SANITIZE_BUILD) && ctest --output-on-failure -j 2

# The Debian packages, vorq and vorq-dbgsym, built by dpkg-buildpackage from debian/ on a
# clean copy of the sources that git tracks, in $(DEB_BUILD)/vorq; the .debs, the .buildinfo
# and the .changes land in $(DEB_BUILD). The build runs the tests that need no X server and
# no ssh, unless DEB_BUILD_OPTIONS has nocheck. The copy is always at the same path, so two
# builds of the same sources give the same bytes.
DEB_BUILD ?= build-deb
deb: $(PACKAGING_STAMP)
	rm -rf $(DEB_BUILD)
	mkdir -p $(DEB_BUILD)/vorq
	git ls-files -z | tar --null -T - --ignore-failed-read -cf - | tar -xf - -C $(DEB_BUILD)/vorq
	cd $(DEB_BUILD)/vorq && dpkg-buildpackage -us -uc -b -j$(JOBS)
	@ls $(DEB_BUILD)/*.deb

# Builds the packages twice, afresh each time (without the tests, which make test has run),
# and fails unless both builds are the same bytes.
deb-reproducible:
	DEB_BUILD_OPTIONS=nocheck $(MAKE) deb
	cd $(DEB_BUILD) && sha256sum *.deb > ../reproducible.sha256
	DEB_BUILD_OPTIONS=nocheck $(MAKE) deb
	cd $(DEB_BUILD) && sha256sum -c ../reproducible.sha256
	rm reproducible.sha256

# Checks the packages with Debian's own tools: lintian --pedantic on the .changes fails on any
# error or warning; the desktop entry and the metainfo are validated. The role then installs
# the package on a till of the fleet test (on this machine), and autopkgtest runs
# debian/tests on the installed packages with its null runner, the debug symbols included.
test-installed: $(PACKAGING_STAMP) deb-reproducible build
	lintian --pedantic --fail-on error,warning $(DEB_BUILD)/vorq_*.changes
	desktop-file-validate packaging/org.vorq.VORQ.desktop
	appstreamcli validate --no-net packaging/org.vorq.VORQ.metainfo.xml
	$(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get remove -y -q vorq vorq-dbgsym || true
	deb=$$(realpath $(DEB_BUILD)/vorq_*.deb) && cd $(BUILD) && \
	  VORQ_FLEET_DEB=$$deb ctest --output-on-failure -R test_fleet
	$(SUDO) autopkgtest --env=VORQ_TEST_BUILD=$(CURDIR)/$(BUILD) \
	  $(DEB_BUILD)/vorq_*.deb $(DEB_BUILD)/vorq-dbgsym_*.deb $(DEB_BUILD)/vorq -- null
	man -l /usr/share/man/man1/vorq-write.1.gz > /dev/null

# The benchmark's table, every row against its floor (bench/vorq_bench.cpp); it fails when a
# goal is missed. VORQ_BENCH_RUNS sets the runs of each row (default 15; three times as many
# for the window's start-up, twenty times as many for vorq-write).
BENCH_BUILD ?= build-bench
bench: $(DEPS_STAMP)
	cmake -S . -B $(BENCH_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DVORQ_BENCH=ON
	cmake --build $(BENCH_BUILD) -j $(JOBS)
	$(BENCH_BUILD)/tests/isolate $(BENCH_BUILD)/bench/vorq_bench

# The same table with one run of each row, on the test build: it fails only when a row cannot
# be measured.
bench-smoke: $(DEPS_STAMP) build-plain
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
	rm -rf $(BUILD) $(SANITIZE_BUILD) $(DEB_BUILD) $(BENCH_BUILD) $(FUZZ_BUILD)
