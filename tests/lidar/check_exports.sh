#!/bin/sh
# Usage: check_exports.sh MODULE...
# Fails unless every module given lists each routine of the shared module
# below as a defined text symbol of its dynamic symbol table.

# One routine a line; add new exported routines here.
routines='
file_access
check_file_extension
error_msg
check_las
credits
update_header
initialize_header10
initialize_header11
initialize_header12
l_qs
l_quicksort
d_qs
d_quicksort
l_parallel_qs
l_parallel_quicksort
d_parallel_qs
d_parallel_quicksort
check_numeric_argument
check_YN
check_DEM
'

if [ $# -eq 0 ]; then
    echo "usage: $0 MODULE..." >&2
    exit 2
fi

status=0
for module in "$@"; do
    if ! symbols=$(nm -D --defined-only "$module"); then
        echo "cannot list the dynamic symbols of $module"
        status=1
        continue
    fi
    for name in $routines; do
        if ! printf '%s\n' "$symbols" | awk -v name="$name" '
                $2 == "T" && $3 == name { found = 1 }
                END { exit !found }'; then
            echo "$module does not export $name"
            status=1
        fi
    done
done
exit $status
