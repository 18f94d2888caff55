# The two commands of the README. Both install what the machine lacks first.
.PHONY: demo check setup build install uninstall deb bench fuzz mutate mutate-random coverage clean

# `make install` puts the programs and manual pages under $(DESTDIR)$(PREFIX);
# WITH_SUITE=1 adds the suite stand-ins. `make uninstall` with the same PREFIX
# and DESTDIR removes them again.
PREFIX ?= /usr/local
BUILD_DIR ?= build/normal

setup:
	@scripts/setup.sh

build: setup
	cmake -S . -B build/normal -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build/normal -j 2

# The demo installs what is missing itself, to show it as its first stage.
demo:
	@scripts/demo.sh

install:
	@PREFIX="$(PREFIX)" DESTDIR="$(DESTDIR)" BUILD_DIR="$(BUILD_DIR)" WITH_SUITE="$(WITH_SUITE)" \
	  scripts/install.sh

uninstall:
	@PREFIX="$(PREFIX)" DESTDIR="$(DESTDIR)" scripts/uninstall.sh

# The two Debian packages, the programs and the suite stand-ins, in build/deb/package/.
deb:
	@scripts/deb.sh

check: setup
	@scripts/check.sh

bench: setup
	@bench/run_bench.sh

# FUZZ_SECONDS per target (default 180); see scripts/fuzz.sh.
fuzz: setup
	@scripts/fuzz.sh

# Plants each fault of mutants/ in a copy of the tree and names the test that
# catches it; see scripts/mutate.sh. Not part of check.
mutate: setup
	@scripts/mutate.sh

# Draws N faults (default 150) by rule at random places of the shipped code
# and runs the tests against each; SEED, ONLY, DRY_RUN: see
# scripts/mutate_random.py. Not part of check.
mutate-random: setup
	@scripts/mutate_random.py

# Line and branch coverage of the shipped code by the test run, in
# build/coverage (installs gcovr when it is missing); see scripts/coverage.sh.
coverage:
	@scripts/setup.sh --coverage
	@scripts/coverage.sh

clean:
	rm -rf build
