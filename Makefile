# Tavrel: `make run` opens the program on the bundled BMC simulator,
# `make test` builds every target and runs every test.
#
# Test trees: native (g++), native-asan (AddressSanitizer and UBSan),
# native-tsan (ThreadSanitizer), fuzz (clang's libFuzzer, short runs),
# windows-x64 and windows-x86 (mingw-w64; the programs run under Wine).
PRESETS := native native-asan native-tsan fuzz windows-x64 windows-x86
FUZZ_SECONDS ?= 180

.PHONY: deps build test run fuzz soak bench clean $(addprefix build-,$(PRESETS)) $(addprefix test-,$(PRESETS))

deps:
	@scripts/install-deps

$(addprefix build-,$(PRESETS)): build-%: deps
	cmake --preset $* >/dev/null
	cmake --build --preset $*

$(addprefix test-,$(PRESETS)): test-%: build-%
	ctest --preset $*

build: build-native build-windows-x64 build-windows-x86

test: $(addprefix test-,$(PRESETS))

run: build
	scripts/run-tavrel

# A longer fuzzing run of each target (FUZZ_SECONDS each).
fuzz: build-fuzz
	mkdir -p build/fuzz/corpus-reply build/fuzz/corpus-worker
	build/fuzz/fuzz/reply_fuzz -max_total_time=$(FUZZ_SECONDS) -timeout=10 -print_final_stats=1 build/fuzz/corpus-reply fuzz/corpus/reply
	build/fuzz/fuzz/worker_fuzz -max_total_time=$(FUZZ_SECONDS) -timeout=10 -print_final_stats=1 build/fuzz/corpus-worker fuzz/corpus/worker

# A longer soak of Logon, Dump, Clear, Disconnect cycles (SOAK_SECONDS).
SOAK_SECONDS ?= 240
soak: build-native
	cmake -S . -B build/native -DTAVREL_SOAK_SECONDS=$(SOAK_SECONDS) >/dev/null
	ctest --test-dir build/native -R '^soak_test$$' -V
	cmake -S . -B build/native -DTAVREL_SOAK_SECONDS=45 >/dev/null

# Timing of tavrel-cli against ipmitool and FreeIPMI on ipmi_sim, some ten
# minutes; prints the table and rewrites docs/benchmarks.md and .png.
bench: build-native
	python3 bench/run_bench.py

clean:
	rm -rf build
