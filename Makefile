# Front door for newcomers: `make run` builds everything and runs the main
# job (the tour, then the smoke and qos NVMe examples on the simulator); `make test` builds and runs every test. Both install missing
# Debian packages first. Build trees: build/ (release), build-asan/, build-tsan/.
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
FUZZ_SECONDS ?= 60

.PHONY: all deps build run test asan tsan fuzz clean

all: build

deps:
	@tools/install-deps.sh

build: deps
	cmake -S . -B build $(CMAKE_FLAGS) >/dev/null
	cmake --build build -j $(JOBS)

run: build
	@tools/install-deps.sh gnuplot-nox
	@tools/run-main-job.sh build

test: build
	@tools/install-deps.sh qemu-system-x86
	cd build && ctest --output-on-failure -j $(JOBS)

asan: deps
	cmake -S . -B build-asan -DKORVEL_SANITIZE=address -DCMAKE_BUILD_TYPE=Debug >/dev/null
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --output-on-failure -j $(JOBS) -LE nosan

tsan: deps
	cmake -S . -B build-tsan -DKORVEL_SANITIZE=thread -DCMAKE_BUILD_TYPE=Debug >/dev/null
	cmake --build build-tsan -j $(JOBS)
	cd build-tsan && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -j $(JOBS) -L threads

fuzz: deps
	tests/fuzz/run_fuzz.sh $(FUZZ_SECONDS) $(CURDIR)/build-fuzz

clean:
	rm -rf build build-asan build-tsan build-fuzz
