# The two everyday commands: `make run` and `make test`.
JOBS ?= $(shell nproc)
# Looked up when a recipe runs, after `deps` may have installed it.
DBUS = $(shell command -v dbus-run-session 2>/dev/null)

.PHONY: all deps build test test-whole test-asan run demo-reset screenshots bench bench-quick fuzz format format-check clean

# The simulated Xcode that `make run` shows on Linux.
FIXTURE := ./build/dev/tests/fixtures/corvane-fixture
DEMO := build/demo

# `make run` shows the demo under a session bus of its own when none exists,
# so that distributed notifications reach it as they do under `make test`; a
# session without a runtime folder gets one in the demo tree.
RUN_DBUS = $(if $(DBUS_SESSION_BUS_ADDRESS),,$(DBUS))

all: build

# Installs what Debian 12 lacks; silent when everything is there.
deps:
	@scripts/install-deps

build: deps
	cmake --preset dev
	cmake --build --preset dev -j $(JOBS)

test: build
	cd build/dev && QT_QPA_PLATFORM=offscreen $(DBUS) ctest --output-on-failure -j $(JOBS) --timeout 300

# Each test binary once as one process: ctest runs every test in a process of
# its own, where one test's leftovers can never reach the next.
test-whole: build
	cd build/dev && find tests -mindepth 2 -maxdepth 2 -type f -executable -name 'test_*' | sort | \
		QT_QPA_PLATFORM=offscreen xargs -P $(JOBS) -I{} $(DBUS) sh -c \
		'timeout 900 {} --gtest_brief=1 > {}.whole.log 2>&1 || { tail -40 {}.whole.log; echo "{} failed"; exit 1; }'

test-asan: deps
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)
	cd build/asan && QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=halt_on_error=1:detect_leaks=1 \
		LSAN_OPTIONS=suppressions=$(CURDIR)/scripts/lsan.supp:print_suppressions=0 \
		UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
		$(DBUS) ctest --output-on-failure -j $(JOBS) --timeout 600

# Lays out the demo tree (or starts again what the last run stopped), points
# the program at it and runs it. The shell that does so becomes the program,
# and the demo's simulators, and those the program starts, are told to end
# with that process (FAKE_XCODE_WATCH): when it ends, however it ends, even
# with the recipe's shell or the bus session killed first. A program that
# another one's lock turns away (exit 75, ProgramLock::refusedExitStatus)
# finds the running one's simulators up and starts none, so it leaves them
# alone.
DEMO_PROGRAM := ./build/dev/src/corvane
DEMO_RUN = FAKE_XCODE_WATCH=$$($(FIXTURE) watch $$$$) && export FAKE_XCODE_WATCH && \
	$(FIXTURE) demo $(DEMO) && eval "$$($(FIXTURE) env $(DEMO))" && \
	if [ -z "$${XDG_RUNTIME_DIR-}" ]; then \
		export XDG_RUNTIME_DIR="$(abspath $(DEMO))/runtime"; mkdir -p -m 700 "$$XDG_RUNTIME_DIR"; \
	fi && \
	CORVANE_LOG_DEBUG=$${CORVANE_LOG_DEBUG-1} exec $(DEMO_PROGRAM)

run: build
	@exec $(RUN_DBUS) sh -c '$(DEMO_RUN)'

demo-reset: build
	@if [ -d $(DEMO) ]; then $(FIXTURE) stop $(DEMO); fi
	rm -rf $(DEMO)
	$(FIXTURE) demo $(DEMO)
	$(FIXTURE) stop $(DEMO)

# Remakes the README's screenshots (docs/*.png) from a fresh demo under a
# private X server with a window manager and a tray, which it installs when
# they are missing.
screenshots: build
	@scripts/install-deps screenshots
	scripts/docs-screenshots

# Runs every benchmark to the end; fails when any of them failed, also one
# that reported an error and exited 0 (scripts/run-benchmarks).
bench: deps
	cmake --preset release
	cmake --build --preset release -j $(JOBS)
	scripts/run-benchmarks build/release/bench

# Every benchmark once, briefly and at small sizes, as CI runs them: shows
# that none has rotted, not how fast anything is.
bench-quick: deps
	cmake --preset release
	cmake --build --preset release -j $(JOBS)
	scripts/run-benchmarks --quick build/release/bench

# libFuzzer targets (clang; installs clang and libclang-rt-14-dev when they are
# missing), each run FUZZ_SECONDS (60; the image target 600 unless it is
# given) over corpora under build/fuzz/.
# `make fuzz FUZZERS="fuzz_ps_lines"` runs only those.
fuzz: deps
	JOBS=$(JOBS) scripts/fuzz $(FUZZERS)

format:
	git ls-files --cached --others --exclude-standard '*.cpp' '*.h' | xargs clang-format -i

format-check:
	git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

clean:
	@if [ -d $(DEMO) ] && [ -x $(FIXTURE) ]; then $(FIXTURE) stop $(DEMO); fi
	rm -rf build
