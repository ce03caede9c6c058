# Cindel: the two everyday commands.
#   make test   install what is missing, build (Release, into build/, and the Windows builds) and
#               run the whole test suite, the Windows tests under Wine included
#   make demo   install what is missing, build, and render the built-in scene with `cindel` into
#               out/demo/ (plus out/demo/demo.mp4 when ffmpeg is installed)
# and the Windows plug-in:
#   make windows   cross-compile with MinGW-w64 into build-windows/: Cindel.aex (the plug-in users
#                  install), cindel.exe and minihost
# and the suite under the sanitizers (CI runs it after `make test`):
#   make sanitize   build into build-sanitize/ with ASan, UBSan and LSan and run the Linux suite
# and the readers under fuzzing (not part of `make test`):
#   make fuzz   build the libFuzzer targets of tests/fuzz with clang into build-fuzz/ and run each
#               for FUZZ_SECONDS (default 60) from its seed corpus; crashes land in build-fuzz/findings/

BUILD_DIR ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=

WINDOWS_DIR ?= build-windows
WINDOWS_TEST_DIR ?= build-windows-cpu
WINDOWS_CMAKE_FLAGS ?=
WINDOWS_CONFIGURE = -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release -DCINDEL_WERROR=ON

.PHONY: all deps configure build test demo warnings clean format windows windows-test-build windows-test fuzz sanitize

all: build

deps:
	./scripts/install-deps

configure: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Release -DCINDEL_WERROR=ON $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

# The Linux suite reads the Windows builds (the PiPL resource, frames rendered under Wine), so they
# are built first; then the Windows suite runs under Wine.
test: build windows windows-test-build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS) --timeout 600 || \
	  { echo; echo "== TESTS FAILED (see above) =="; exit 1; }
	cd $(WINDOWS_TEST_DIR) && ctest --output-on-failure -j $(JOBS) --timeout 600 || \
	  { echo; echo "== WINDOWS TESTS FAILED (see above) =="; exit 1; }
	@echo; echo "== ALL TESTS PASSED =="

# The shipping Windows build: the CPU fallback off, as users get it; no tests.
windows: deps
	cmake -S . -B $(WINDOWS_DIR) $(WINDOWS_CONFIGURE) -DCINDEL_BUILD_TESTS=OFF $(WINDOWS_CMAKE_FLAGS)
	cmake --build $(WINDOWS_DIR) -j $(JOBS)

# The Windows build the tests run under Wine, whose OpenCL.dll reaches this machine's PoCL: the
# same code with the CPU fallback on, and the host-protocol tests.
windows-test-build: deps
	cmake -S . -B $(WINDOWS_TEST_DIR) $(WINDOWS_CONFIGURE) -DCINDEL_CPU_FALLBACK=ON $(WINDOWS_CMAKE_FLAGS)
	cmake --build $(WINDOWS_TEST_DIR) -j $(JOBS)

windows-test: windows windows-test-build
	cd $(WINDOWS_TEST_DIR) && ctest --output-on-failure -j $(JOBS) --timeout 600

# Warnings as errors across every target, the check CI makes.
warnings: deps
	cmake -S . -B $(BUILD_DIR) -DCINDEL_WERROR=ON $(CMAKE_FLAGS)
	cmake --build $(BUILD_DIR) -j $(JOBS)

# The scene, image and --set readers under libFuzzer with AddressSanitizer and UBSan. What a run
# finds new goes to build-fuzz/corpus/, never into the seeds kept in the repository; a crash, a
# hang over 10 s or an allocation over 2 GiB stops that target and fails the run.
FUZZ_DIR ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_TARGETS = scene_parse_fuzz image_read_fuzz param_value_fuzz
fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCINDEL_FUZZ=ON \
	  -DCINDEL_BUILD_TESTS=OFF -DCINDEL_BUILD_BENCH=OFF
	cmake --build $(FUZZ_DIR) -j $(JOBS) --target $(FUZZ_TARGETS)
	@mkdir -p $(FUZZ_DIR)/findings
	@status=0; for t in $(FUZZ_TARGETS); do \
	  mkdir -p $(FUZZ_DIR)/corpus/$$t; echo "== $$t ($(FUZZ_SECONDS) s)"; \
	  $(FUZZ_DIR)/tests/fuzz/$$t $(FUZZ_DIR)/corpus/$$t tests/fuzz/corpus/$$t -max_total_time=$(FUZZ_SECONDS) \
	    -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 -artifact_prefix=$(FUZZ_DIR)/findings/$$t- \
	    2>$(FUZZ_DIR)/$$t.log || status=1; \
	  grep -E '^#[0-9]+[[:space:]]+(INITED|DONE)|^stat::number_of_executed_units|ERROR|SUMMARY' $(FUZZ_DIR)/$$t.log; \
	done; \
	if [ $$status -ne 0 ]; then echo; echo "== FUZZING FOUND A FAULT (see $(FUZZ_DIR)/*.log, $(FUZZ_DIR)/findings/) =="; exit 1; fi

# The whole Linux suite again with AddressSanitizer, UndefinedBehaviorSanitizer and LeakSanitizer,
# in its own build directory (CI runs it after `make test`). Any report fails its test: ASan and
# LSan exit non-zero, UBSan is made to halt. The only suppressions are PoCL's own allocations, in
# tests/sanitizers/lsan.supp with the reason for each.
SANITIZE_DIR ?= build-sanitize
SANITIZE_ENV = ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:strict_string_checks=1:detect_stack_use_after_return=0 \
  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  LSAN_OPTIONS=suppressions=$(CURDIR)/tests/sanitizers/lsan.supp:print_suppressions=0
sanitize: deps
	cmake -S . -B $(SANITIZE_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCINDEL_WERROR=ON -DCINDEL_SANITIZE=ON \
	  -DCINDEL_BUILD_BENCH=OFF
	$(SANITIZE_ENV) cmake --build $(SANITIZE_DIR) -j $(JOBS)
	cd $(SANITIZE_DIR) && $(SANITIZE_ENV) ctest --output-on-failure -j $(JOBS) --timeout 900 || \
	  { echo; echo "== TESTS UNDER THE SANITIZERS FAILED (see above) =="; exit 1; }
	@echo; echo "== ALL TESTS PASSED UNDER ASAN, UBSAN AND LSAN =="

# The built-in default scene: 960 x 540 at 30 fps, Draft quality, Voxel Size Large, 90 frames.
DEMO_DIR ?= out/demo
demo: build
	$(BUILD_DIR)/cindel render --out $(DEMO_DIR) \
	  $(if $(shell command -v ffmpeg 2>/dev/null),--video $(DEMO_DIR)/demo.mp4)
	@command -v ffmpeg >/dev/null 2>&1 || echo "(no video: install ffmpeg to get $(DEMO_DIR)/demo.mp4 as well)"

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD_DIR) $(WINDOWS_DIR) $(WINDOWS_TEST_DIR)
