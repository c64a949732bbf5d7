# Runs in the emulated ARM machine (machine.py, armhf) under its busybox: the
# arm32 build's tests that start ARM programs as children, which qemu-arm
# alone cannot run, each in a chroot of the host's root.
export HOME=/tmp TMPDIR=/tmp
tree=${LUMIVO_VM_SCRIPT%/tests/vm/guest_arm32.sh}
status=0

# The host's shell and tools are x86 programs: in the chroot the machine's
# own busybox stands in for /bin/sh and, first on the PATH, for the tools
# the tests call (unshare, mount, cat, ls).
mkdir -p /host/run/tools
cp /bin/busybox /host/run/tools/
for applet in $(/bin/busybox --list); do ln -sf busybox "/host/run/tools/$applet"; done
mount --bind /host/run/tools/busybox /host/bin/sh
export PATH=/run/tools:/bin:/sbin:/usr/bin:/usr/sbin

# The arm32 agent against devcloud, which runs on the host's loopback and is
# reached through qemu's restricted user network (10.0.2.100:8443 forwards
# there): it enrols, beats, and answers a VPN request "error", as the ARM
# machine has no VPN stack. First, while the host's side waits for it; in a
# subshell, so that its environment stays its own.
[ -z "$LUMIVO_ARM32_CLOUD" ] || ( s=0
    ip link set eth0 up && ip addr add 10.0.2.15/24 dev eth0 || s=1
    mkdir -p /host/tmp/agent/device/BOOT /host/tmp/agent/run
    export LUMIVO_CONNECT_TO=localhost:8443:10.0.2.100:8443
    export LUMIVO_DEVICE_ROOT=/tmp/agent/device LUMIVO_RUNTIME_DIR=/tmp/agent/run
    agent="$LUMIVO_ARM32_BUILD/platform/posix/lumivo-runtime"
    chroot /host "$agent" -d > /out/agent-enrol.log 2>&1 &
    pid=$!
    for i in $(seq 60); do [ -s /host/tmp/agent/device/BOOT/env.json ] && break; sleep 1; done
    sleep 8
    kill -TERM $pid; wait $pid || s=1
    chroot /host "$agent" -d -c -n -p=cpw > /out/agent.log 2>/out/agent.stderr &
    pid=$!
    for i in $(seq 90); do [ -e /out/cloud-done ] && break; sleep 1; done
    kill -TERM $pid; wait $pid || s=1
    echo "== the agent's lines"
    cat /out/agent.log
    exit $s ) || status=1

run() {
    echo "== $1 --gtest_filter=$2"
    chroot /host "$LUMIVO_ARM32_BUILD/$1" --gtest_filter="$2" --gtest_brief=1 || status=1
}
run tests/faults/settings-faults-tests 'SettingsFaultsTest.*:MediumTest.*'
run tests/faults/closed-console-tests 'ClosedConsoleTest.*'
run tests/ui/ui_host_tests 'ShowGuiTest.SecondCopyOfTheProgramWithGShowsTheDialog'

# The agent against the hostile service, with Debian's armhf Python (its
# certificate made on the host: the machine has no openssl program).
export LUMIVO_TEST_TLS="$LUMIVO_VM_FOLDER/tls"
export LUMIVO_AGENT="$LUMIVO_ARM32_BUILD/platform/posix/lumivo-runtime" LUMIVO_AGENT_SANITIZED=0
for scenario in endless terminate injection journal trickle; do
    echo "== hostile_$scenario"
    chroot /host "$LUMIVO_ARM_PYTHON" "$tree/tests/hostile/hostile_test.py" "$scenario" || status=1
done
unset LUMIVO_AGENT

exit $status
