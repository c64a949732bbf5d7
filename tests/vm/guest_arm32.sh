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

# The arm32 agent against devcloud, which runs on the host's loopback and is
# reached through qemu's restricted user network (10.0.2.100:8443 forwards
# there): it enrols, beats, and answers a VPN request "error", as the ARM
# machine has no VPN stack.
if [ -n "$LUMIVO_ARM32_CLOUD" ]; then
    ip link set eth0 up && ip addr add 10.0.2.15/24 dev eth0 || status=1
    mkdir -p /host/tmp/agent/device/BOOT /host/tmp/agent/run
    export LUMIVO_CONNECT_TO=localhost:8443:10.0.2.100:8443
    export LUMIVO_DEVICE_ROOT=/tmp/agent/device LUMIVO_RUNTIME_DIR=/tmp/agent/run
    agent="$LUMIVO_ARM32_BUILD/platform/posix/lumivo-runtime"
    chroot /host "$agent" -d > /out/agent-enrol.log 2>&1 &
    pid=$!
    for i in $(seq 60); do [ -s /host/tmp/agent/device/BOOT/env.json ] && break; sleep 1; done
    sleep 8
    kill -TERM $pid; wait $pid || status=1
    chroot /host "$agent" -d -c -n -p=cpw > /out/agent.log 2>/out/agent.stderr &
    pid=$!
    for i in $(seq 90); do [ -e /out/cloud-done ] && break; sleep 1; done
    kill -TERM $pid; wait $pid || status=1
    echo "== the agent's lines"
    cat /out/agent.log
fi
exit $status
