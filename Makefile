# Pelmora: the Windows client (cross-built with mingw-w64, run on Wine) and the native tools.
#   make build   configure and build both trees
#   make test    install what is missing, build, run every test (ends with CTest's summary)
#   make run     start Pelmora in a phone-sized Wine desktop
#   make screenshots  every screen at both phone sizes into docs/screens/
#   make web-screenshots  every page of the web site at 1280 and 360 px into docs/web/
#   make fuzz    a campaign of hostile replies: make fuzz INPUTS=1000000 SEED=7 (tools/reply-campaign)
#   make bench   build what is missing, run the benchmarks, print the table and write docs/performance.md
#   make clean   remove the build trees

JOBS ?= $(shell nproc 2>/dev/null || echo 2)
WIN_BUILD := build/win
NATIVE_BUILD := build/native
INPUTS ?= 100000
SEED ?= 1

.PHONY: all build deps test run screenshots web-screenshots fuzz bench clean

all: build

deps:
	@tools/install-deps

$(WIN_BUILD)/CMakeCache.txt:
	@cmake -S . -B $(WIN_BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null

$(NATIVE_BUILD)/CMakeCache.txt:
	@cmake -S . -B $(NATIVE_BUILD) -DCMAKE_BUILD_TYPE=Release >/dev/null

build: deps $(WIN_BUILD)/CMakeCache.txt $(NATIVE_BUILD)/CMakeCache.txt
	@cmake --build $(WIN_BUILD) --parallel $(JOBS)
	@cmake --build $(NATIVE_BUILD) --parallel $(JOBS)

# The native tests run first so that the run ends with the summary of the client's tests.
test: build
	@status=0; \
	(cd $(NATIVE_BUILD) && ctest --output-on-failure --no-tests=ignore) || status=$$?; \
	tools/wine-run --prepare; \
	(cd $(WIN_BUILD) && ctest --output-on-failure) || status=$$?; \
	tools/wine-run --stop; \
	exit $$status

run: build
	@tools/run-demo

screenshots: build
	@tools/screenshots

web-screenshots: build
	@tools/web-screenshots

# Inputs that crash, hang or trip a checker are saved in build/win/reply-campaign/ for --replay.
fuzz: build
	@tools/wine-run --prepare
	@status=0; \
	tools/wine-run $(WIN_BUILD)/pelmora-reply-campaign.exe --inputs $(INPUTS) --seed $(SEED) || status=$$?; \
	tools/wine-run --stop; \
	exit $$status

# Not part of test: it takes a quarter of an hour and its figures depend on the machine's load.
bench: build
	@tools/install-deps bench
	@tools/bench/run-bench

clean:
	@tools/wine-run --stop 2>/dev/null || true
	@rm -rf build
