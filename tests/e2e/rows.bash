# Sourced by the end-to-end scripts made of rows: runs the script once per row, all rows side by
# side (each row is a world of its own), prints each row's output under its name, and exits with
# 1 if any row failed. Usage: run_rows_side_by_side SCRIPT BIN_DIR ROW...
run_rows_side_by_side() {
    local script="$1" bin="$2" logs row status failed=0
    shift 2
    logs="$(mktemp -d)"
    trap 'rm -rf "$logs"' EXIT
    declare -A row_pid
    for row in "$@"; do
        bash "$script" "$bin" "$row" >"$logs/$row" 2>&1 &
        row_pid[$row]=$!
    done
    for row in "$@"; do
        status=0
        wait "${row_pid[$row]}" || status=$?
        sed "s/^/[$row] /" "$logs/$row"
        [ "$status" -eq 0 ] || failed=1
    done
    exit "$failed"
}
