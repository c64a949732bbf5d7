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
# MediumTest skips here: it needs the host's shell, which is not an ARM
# program. SettingsFaultsTest is left out: it kills its child 0.5-15 ms after
# the start, less than an emulated program takes to start, so no save is ever
# under way when the kill lands.
run tests/faults/settings-faults-tests 'MediumTest.*'
run tests/faults/closed-console-tests 'ClosedConsoleTest.*'
run tests/ui/ui_host_tests 'ShowGuiTest.SecondCopyOfTheProgramWithGShowsTheDialog'
exit $status
