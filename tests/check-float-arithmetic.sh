#!/usr/bin/env bash
# Our own code must do its floating-point arithmetic on SSE2 in every build: the x87 unit's
# 80-bit intermediates round the pinned float and double steps differently. Loading and
# storing through the x87 stack (the 32-bit convention returns floats there) is exact and
# allowed; an x87 arithmetic instruction anywhere in the given objects or archives is not.
# usage: check-float-arithmetic.sh OBJDUMP FILE...
set -euo pipefail
objdump=$1
shift
x87_arithmetic='^(fi?(add|sub|subr|mul|div|divr)|f(add|sub|subr|mul|div|divr)p|fsqrt|fprem1?|frndint|fscale|fsin|fcos|fsincos|fptan|fpatan|f2xm1|fyl2x|fyl2xp1)$'
found=$("$objdump" -d -M intel "$@" | awk -F '\t' -v pattern="$x87_arithmetic" '
    /^[0-9a-f]+ <.*>:$/ { function_name = substr($0, 1, length($0) - 1) }
    NF >= 3 { split($3, words, " "); if (words[1] ~ pattern) print function_name ": " $3 }')
if [ -n "$found" ]; then
    echo "x87 arithmetic in our code:"
    echo "$found" | head -20
    exit 1
fi
