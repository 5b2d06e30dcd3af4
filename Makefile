# The two set-up commands: `make demo` (a tour on a simulated unit) and `make test`.
# Both first install what a fresh Debian machine lacks, then build. lld, llvm and libwine-dev
# (Wine's Windows headers) build the Microsoft-ABI application of tests/msvc.

PACKAGES := cmake ninja-build ccache g++ clang libclang-rt-14-dev python3 git \
            googletest libgtest-dev libbenchmark-dev libcli11-dev nlohmann-json3-dev \
            g++-mingw-w64-i686-posix binutils-mingw-w64-i686 lld llvm libwine-dev \
            python3-pil stm32flash binutils srecord \
            doxygen pkgconf \
            libcpp-httplib-dev chromium chromium-driver python3-selenium
FUZZ_SECONDS ?= 3

.PHONY: all deps deps-wine deps-docs build demo test test-linux test-asan test-tsan test-threads win32 try-wine fuzz \
        bench stress format clean docs test-docs

all: build

# install_missing PACKAGES: installs those of the Debian packages that are missing.
define install_missing
@missing=""; for p in $(1); do \
  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'install ok installed' || missing="$$missing $$p"; \
done; \
if [ -n "$$missing" ]; then \
  echo "Installing:$$missing"; \
  sudo=""; [ "$$(id -u)" -eq 0 ] || sudo=sudo; \
  $$sudo apt-get update -qq >/dev/null && \
  DEBIAN_FRONTEND=noninteractive $$sudo apt-get install -y -qq --no-install-recommends $$missing >/dev/null; \
fi
endef

deps:
	$(call install_missing,$(PACKAGES))

# The API reference needs Doxygen alone.
deps-docs:
	$(call install_missing,doxygen)

# wine runs the Windows checks; its 32-bit part needs the i386 architecture.
deps-wine: deps
	@if ! dpkg-query -W -f='$${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed' || \
	    ! dpkg-query -W -f='$${Status}' wine 2>/dev/null | grep -q 'install ok installed'; then \
	  echo "Installing: wine wine32:i386"; \
	  sudo=""; [ "$$(id -u)" -eq 0 ] || sudo=sudo; \
	  $$sudo dpkg --add-architecture i386 && $$sudo apt-get update -qq >/dev/null && \
	  DEBIAN_FRONTEND=noninteractive $$sudo apt-get install -y -qq --no-install-recommends wine wine32:i386 >/dev/null; \
	fi

build: deps
	cmake --preset linux >/dev/null
	cmake --build --preset linux

demo: build
	./build/linux/pelmux demo

test-linux: build
	ctest --preset linux

test-asan: deps
	cmake --preset linux-asan >/dev/null
	cmake --build --preset linux-asan
	ctest --preset linux-asan

test-tsan: deps
	cmake --preset linux-tsan >/dev/null
	cmake --build --preset linux-tsan
	ctest --preset linux-tsan

# The tests of the library's threads (light-sensor averaging, the backlight controller, semaphores)
# under ThreadSanitizer: their own small test program, without the command-line tool, and without
# the eleven connection attempts to a silent line (time-outs only, no thread of the library; the
# plain and AddressSanitizer runs have them).
test-threads: deps
	cmake --preset linux-tsan >/dev/null
	cmake --build --preset linux-tsan --target pelmux_thread_tests
	./build/linux-tsan/pelmux_thread_tests --gtest_brief=1 --gtest_filter='-*Tool*:*NoBootloaderFailsAfterElevenAttempts'

win32: deps-wine build
	cmake --preset win32 >/dev/null
	cmake --build --preset win32
	python3 tests/windows/check_exports.py build/win32/Pelmux.dll i686-w64-mingw32-objdump
	python3 tests/windows/check_imports.py build/win32/Pelmux.dll i686-w64-mingw32-objdump
	./tests/windows/run.sh build/win32
	# The SDK archive, listed against its layout (README.md, "Windows").
	cmake --build --preset win32 --target pelmux_sdk
	python3 tests/windows/check_sdk.py build/win32/sdk/*.zip .
	# The test DLL against a simulated unit on loopback TCP (`pelmux sim --tcp`).
	cmake --preset win32-sim >/dev/null
	cmake --build --preset win32-sim
	python3 tests/windows/check_exports.py build/win32-sim/Pelmux.dll i686-w64-mingw32-objdump
	cmake --build --preset win32-sim --target pelmux_sdk
	python3 tests/windows/check_sdk.py build/win32-sim/sdk/*.zip .
	./tests/windows/run-sim.sh build/win32-sim build/linux/pelmux
	./tests/package/run.sh windows build/win32 build/win32-sim/Pelmux.dll build/linux/pelmux
	# An application built in Microsoft's ABI (clang-cl, lld-link, Pelmux.lib) against the same unit.
	./tests/msvc/run.sh build/win32 build/win32-sim build/linux

# Tries the Windows DLL under wine against a simulated unit (tools/try-wine.sh): the samples, or
# PROGRAM (a Windows program, with ARGS).
try-wine: deps-wine
	cmake --preset linux >/dev/null
	cmake --build --preset linux --target pelmux
	cmake --preset win32-sim >/dev/null
	cmake --build --preset win32-sim
	./tools/try-wine.sh $(PROGRAM) $(ARGS)

fuzz: deps
	cmake --preset linux-fuzz >/dev/null
	cmake --build --preset linux-fuzz
	FUZZ_SECONDS=$(FUZZ_SECONDS) ./fuzz/run.sh build/linux-fuzz

# The API reference of include/pelmux, as HTML in build/docs/html: it opens on
# docs/getting-started.md and shows the samples.
docs: deps-docs
	mkdir -p build/docs
	doxygen docs/Doxyfile
	@echo "API reference: build/docs/html/index.html"

# Every public declaration carries a doc comment with a short first sentence (Doxygen's warnings as
# errors), and the getting-started page links what it names.
test-docs: deps-docs
	python3 tests/docs/check_docs.py


# The Windows DLL and the sanitizer runs first, the plain run last, so that its summary closes the log.
test: win32 fuzz test-asan test-threads test-docs test-linux

bench: build
	./build/linux/bench/pelmux_bench
	./build/linux/bench/pelmux_controller_cpu 60
	./build/linux/bench/pelmux_video_convert
	./build/linux/bench/pelmux_hex_read
	./build/linux/bench/pelmux_upgrade_timing
	./build/linux/bench/pelmux_startup_timing

# Upgrade jobs with random faults on the serial line: 1000 of them (`make test` runs 200).
stress: build
	PELMUX_STRESS_JOBS=1000 ./build/linux/pelmux_integration_tests \
	    --gtest_filter='FirmwareStressTest.*' --gtest_brief=1

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build
