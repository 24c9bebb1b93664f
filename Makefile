# Two commands on a fresh Debian machine, as root:
#   make run    installs what is missing, builds, starts the module simulator
#               and opens the tool with a settings file that points at it
#   make test   installs what is missing, builds and runs every test
BUILD ?= build
# ccache, where installed, keys objects by paths relative to the folder that
# holds this tree, so a clone in another folder reuses what was built here.
export CCACHE_BASEDIR ?= $(abspath $(CURDIR)/..)
# Debug information would otherwise put the build folder into every key.
export CCACHE_NOHASHDIR ?= 1
JOBS ?= 2
# Most tests wait on timeouts, processes and sockets rather than compute, so
# CTest runs more of them at once than there are cores.
TEST_JOBS ?= 6
BUILD_TYPE ?= RelWithDebInfo
PACKAGES = cmake g++ make pkg-config ccache clang-format python3 qt6-base-dev qt6-charts-dev qt6-svg-dev qt6-translations-l10n libgl-dev xvfb xauth xdotool x11-apps imagemagick \
  libmodbus-dev libmosquitto-dev prometheus-cpp-dev libsystemd-dev \
  mosquitto mosquitto-clients mbpoll python3-pymodbus prometheus stress-ng curl openssl
# The bridge to adapter makers' 32-bit Windows libraries: the cross compiler
# for rqbridge32.exe and Wine with its 32-bit half (i386 architecture).
# Optional: without them the bridge tests say so and skip.
BRIDGE_PACKAGES = g++-mingw-w64-i686-posix wine wine32

.PHONY: deps configure build test run package bench format format-check clean sanitize tsan fuzz soak

deps:
	@missing=""; for p in $(PACKAGES); do dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  if [ "$$(id -u)" -ne 0 ]; then echo "run as root to install packages"; exit 1; fi; \
	  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing; \
	fi
	@missing=""; for p in $(BRIDGE_PACKAGES); do dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; done; \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" -ne 0 ]; then echo "Not root, cannot install$$missing: the Wine bridge tests will be skipped"; \
	  else \
	    echo "Installing:$$missing"; \
	    if [ "$$(dpkg --print-architecture)" = amd64 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then \
	      dpkg --add-architecture i386; fi; \
	    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing \
	      || echo "Could not install$$missing: the Wine bridge tests will be skipped"; \
	  fi; \
	fi

configure: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)

build: configure
	cmake --build $(BUILD) -j$(JOBS)

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j$(TEST_JOBS) --timeout 300

run: build
	scripts/run-demo.sh $(BUILD)/bin

# A .deb of the program, its adapter libraries and the simulator.
package: build
	@dpkg -s dpkg-dev >/dev/null 2>&1 || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq dpkg-dev
	cd $(BUILD) && cpack -G DEB

# Benchmarks print their figures; they assert nothing.
bench: build
	scripts/run-benchmarks.sh $(BUILD)

format: configure
	cmake --build $(BUILD) --target format

# Fails on any tracked C/C++ file that clang-format would change (CI runs it).
format-check: deps
	git ls-files -z '*.cpp' '*.h' '*.c' | xargs -0 clang-format --dry-run --Werror

clean:
	rm -rf $(BUILD)

# Hardening (docs/hardening.md): the whole test suite under ASan, LSan and
# UBSan; the gateway's tests under TSan; every libFuzzer target for FUZZ_SECONDS each; the fault soak against
# the simulator for SOAK_SECONDS over every path (UDP, serial line, the Wine
# bridge, rqtool, the search, the gateway, the gateway among hostile clients), SOAK_FAULT_SHARE of the requests faulted (up
# to 0.3; 0 = the mix as written, about 0.1), SOAK_PATHS to choose paths.
FUZZ_SECONDS ?= 60
SOAK_SECONDS ?= 120
SOAK_FAULT_SHARE ?= 0
SOAK_PATHS ?= udp serial bridge rqtool scan gateway hostile

sanitize: deps
	JOBS=$(JOBS) scripts/sanitize.sh

# ThreadSanitizer on every test that starts a thread (CTest label `threads`):
# what they need, built in build-tsan, and those tests (TSAN_TESTS=REGEX picks
# some of them).
tsan: deps
	JOBS=$(JOBS) scripts/sanitize.sh --thread

fuzz: deps
	JOBS=$(JOBS) scripts/fuzz.sh $(FUZZ_SECONDS)

soak: deps
	JOBS=$(JOBS) SOAK_FAULT_SHARE=$(SOAK_FAULT_SHARE) SOAK_PATHS="$(SOAK_PATHS)" scripts/soak.sh $(SOAK_SECONDS)
