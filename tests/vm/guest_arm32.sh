# Runs in the emulated ARM machine (machine.py, armhf) under its busybox: the
# arm32 build's tests that start ARM programs as children, which qemu-arm
# alone cannot run, each in a chroot of the host's root.
export PATH=/bin:/sbin:/usr/bin:/usr/sbin
export HOME=/tmp TMPDIR=/tmp
status=0
run() {
    echo "== $1 --gtest_filter=$2"
    chroot /host "$LUMIVO_ARM32_BUILD/$1" --gtest_filter="$2" --gtest_brief=1 || status=1
}
run tests/faults/settings-faults-tests 'SettingsFaultsTest.*'
run tests/faults/closed-console-tests 'ClosedConsoleTest.*'
run tests/ui/ui_host_tests 'ShowGuiTest.SecondCopyOfTheProgramWithGShowsTheDialog'
exit $status
