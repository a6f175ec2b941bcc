#!/bin/busybox sh
# The guest's first process. Loads the test module with the boards named on
# the kernel command line (vboard.boards=...), runs every case once and
# reports each on the second serial port (report.sh), then powers the
# machine off. A case NAME is the steps NAME.before and NAME.after (the
# module's readback around the command: one line per board,
# "DDDD:BB:DD.F command=0x.... writes=N pll=0x....,..."), NAME (the command,
# its stdout), NAME.stderr and NAME.setpci (each board's command register as
# setpci reads it). The report ends with the step dmesg (the kernel's log).
/bin/busybox mount -t proc proc /proc
/bin/busybox --install -s /bin
export PATH=/bin:/sbin
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t debugfs debugfs /sys/kernel/debug
mount -t securityfs securityfs /sys/kernel/security
. /report.sh
report_open

STATE=/sys/kernel/debug/vboard
BOARDS=
for word in $(cat /proc/cmdline); do
    case $word in
    vboard.boards=*) BOARDS=${word#vboard.boards=} ;;
    esac
done

setpci_all() {
    for address in $(cut -d' ' -f1 $STATE); do
        echo "$address $(setpci -s "$address" COMMAND 2>&1)"
    done
}

# case NAME COMMAND...: runs the command and reports it.
case_() {
    name=$1
    shift
    step "$name.before" cat $STATE
    STEP_STDERR=/tmp/err
    step "$name" "$@"
    STEP_STDERR=
    step "$name.stderr" cat /tmp/err
    step "$name.after" cat $STATE
    step "$name.setpci" setpci_all
}

case_ load insmod /sbin/vboard.ko "boards=$BOARDS"
# What the kernel made of the boards.
case_ lspci lspci -nD
# Each board's BAR0 as the kernel holds it: "start end flags".
resources() {
    for address in $(cut -d' ' -f1 $STATE); do
        echo "$address $(head -n 1 /sys/bus/pci/devices/$address/resource)"
    done
}
case_ resources resources
# Boards are numbered as halvex lists them: 1 = 20:00 (4 chips), 2 = 20:03
# (1 chip), 3 = 21:00 (2 chips), 4 = 21:05 (BAR0 unassigned), 5 = 22:00 (I/O
# BAR0), 6 = 22:01 (BAR0 too small), 7 = 23:00 (held by a driver); the
# boards in domain 0001 and on bus ff are not listed.
case_ list halvex list
case_ set-all halvex set 183
case_ set-board halvex set 166 --board 2
case_ list-board halvex list --board 2
case_ list-refused halvex list --board 4
case_ held halvex set 166 --board 7
case_ unprivileged asuser 65534 65534 /bin/halvex set 166
case_ i386-list halvex32 list
case_ i386-set halvex32 set 166
case_ i386-refused halvex32 set 183 --board 5
# A suspend with reset_on_suspend: the module puts every chip's initial word
# back, as the loss of power would. The kernel's suspend test stops once tasks
# are frozen, after the notifiers have run.
suspend() {
    echo 1 >/sys/module/vboard/parameters/reset_on_suspend &&
        echo 0 >/sys/module/suspend/parameters/pm_test_delay &&
        echo freezer >/sys/power/pm_test &&
        echo mem >/sys/power/state
    status=$?
    echo none >/sys/power/pm_test
    return $status
}
case_ suspend suspend
# Last: lockdown cannot be lowered again.
case_ lockdown-raise sh -c 'echo integrity >/sys/kernel/security/lockdown'
case_ lockdown halvex set 183
# The boards go with the module.
unload() { rmmod vboard && ! [ -e /sys/bus/pci/devices/0000:20:00.0 ]; }
case_ unload unload

step dmesg dmesg
report_done
poweroff -f
