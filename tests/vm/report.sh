# The guest's side of the report the host reads (tests/vm/boot.py), for the
# VM suite's first process (busybox sh) and the booted system's test unit
# (bash) alike. Source it, then report_open; each step goes to the second
# serial port as "@@step NAME", its output, "@@rc STATUS"; report_done ends
# the report with "@@done".

report_open() {
    # The tty would add CR and echo.
    stty -F /dev/ttyS1 raw -echo
    exec 3>/dev/ttyS1
}

# step NAME COMMAND...: runs COMMAND and reports its output, stdout and
# stderr together, or stderr into the file STEP_STDERR when that is set.
step() {
    step_name=$1
    shift
    if [ -n "${STEP_STDERR:-}" ]; then
        "$@" >/tmp/step-output 2>"$STEP_STDERR" </dev/null
    else
        "$@" >/tmp/step-output 2>&1 </dev/null
    fi
    step_status=$?
    {
        echo "@@step $step_name"
        cat /tmp/step-output
        # The status on a line of its own, after output with no newline at the end.
        [ -n "$(tail -c 1 /tmp/step-output)" ] && echo
        echo "@@rc $step_status"
    } >&3
    return $step_status
}

report_done() {
    echo "@@done" >&3
    exec 3>&-
}
