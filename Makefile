# Tavrel: `make run` opens the program on the bundled BMC simulator,
# `make test` builds every target and runs every test.
PRESETS := native windows-x64 windows-x86

.PHONY: deps build test run clean $(addprefix build-,$(PRESETS))

deps:
	@scripts/install-deps

build-%: deps
	cmake --preset $* >/dev/null
	cmake --build --preset $*

build: $(addprefix build-,$(PRESETS))

test: build
	ctest --preset native
	ctest --preset windows-x64
	ctest --preset windows-x86

run: build
	scripts/run-tavrel

clean:
	rm -rf build
