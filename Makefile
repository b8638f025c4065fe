# Zorvo: `make test` and `make demo` work on a fresh Debian 12 machine.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps configure build test demo clean format man

all: build

deps:
	scripts/install-deps.sh all

configure: deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

demo: build
	scripts/demo.sh $(BUILD)

# zorvo-script(5) is docs/script-language.md in man form; run after editing that file. Code
# blocks get the text's own indent, not a second one, so that 73 columns fit in 80.
man:
	scripts/install-deps.sh docs
	pandoc -s -f gfm -t man -M title=ZORVO-SCRIPT -M section=5 -M header="File Formats" \
	  -M footer="zorvo" docs/script-language.md | \
	  sed -e '/^\.TH /a .SH NAME\nzorvo-script \\- the script language of zorvo' \
	      -e 's/^\.IP$$/.PP/' > docs/man/zorvo-script.5

format:
	find src tests bench examples -name '*.cpp' -o -name '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD)
