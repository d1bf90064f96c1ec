# make         builds build/ovwebui.exe
# make check   installs what is missing, builds, runs every test under Wine
# make check-native  builds and runs the native tests of the platform-free code
# make demo    runs the launcher on a real Java and Jetty (build/demo)
# make bench   measures the launcher against its floors (release build)
# make fuzz    runs the fuzz targets natively for FUZZ_SECONDS each
# make dist    packs build/dist/ovwebui-<version>-win-x64.zip and its .sha256
BUILD ?= build
TOOLCHAIN := cmake/mingw-w64-x86_64.cmake
FUZZ_SECONDS ?= 60

.PHONY: all deps configure check check-native demo demo-kit bench fuzz dist clean

all: configure
	cmake --build $(BUILD) -j2

deps:
	@scripts/install-deps.sh

configure: deps
	@test -f $(BUILD)/CMakeCache.txt || cmake -S . -B $(BUILD) -DCMAKE_TOOLCHAIN_FILE=$(TOOLCHAIN) -DCMAKE_BUILD_TYPE=Release

check: check-native demo-kit
	@scripts/check-static.sh $(BUILD)/ovwebui.exe
	@# A short fuzzing round keeps the targets building and their seeds passing.
	scripts/fuzz.sh 3
	@# One quick round of the benchmark, so it keeps working; it judges nothing.
	scripts/bench.sh --quick $(BUILD)
	@scripts/wine-prefix.sh
	@# Configured again now that the demo kit is there, so its tests are
	@# registered, and built.
	cmake $(BUILD)
	cmake --build $(BUILD) -j2
	@# Ports 17003 and 8080 are machine-wide: one user of them at a time.
	cd $(BUILD) && flock -o /tmp/ovwebui-ports.lock ctest --output-on-failure --timeout 1200

check-native: deps
	scripts/native-build.sh
	cd build/fuzz && ctest --output-on-failure --timeout 120

demo-kit: all
	scripts/demo-kit.sh $(BUILD)/demo $(BUILD)/demo-cache $(BUILD)/ovwebui.exe

demo: demo-kit
	scripts/demo-run.sh $(BUILD)/demo

bench: all
	scripts/bench.sh $(BUILD)

dist: configure
	cmake --build $(BUILD) -j2 --target ovwebui
	scripts/dist.sh $(BUILD)

fuzz:
	scripts/fuzz.sh $(FUZZ_SECONDS)

clean:
	rm -rf $(BUILD)
