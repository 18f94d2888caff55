# The two commands of the README. Both install what the machine lacks first.
.PHONY: demo check setup build bench fuzz clean

setup:
	@scripts/setup.sh

build: setup
	cmake -S . -B build/normal -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build/normal -j 2

demo: setup
	@scripts/demo.sh

check: setup
	@scripts/check.sh

bench: setup
	@bench/run_bench.sh

# FUZZ_SECONDS per target (default 180); see scripts/fuzz.sh.
fuzz: setup
	@scripts/fuzz.sh

clean:
	rm -rf build
