# Runs in the emulated ARM machine (machine.py, armhf) on the host's root,
# with the machine's busybox as its shell and tools: the arm32 build's tests
# that start ARM programs as children, which qemu-arm alone cannot run.
export HOME=/tmp TMPDIR=/tmp
tree=${LUMIVO_VM_SCRIPT%/tests/vm/guest_arm32.sh}
out=/run/out
status=0

# The arm32 agent against devcloud, which runs on the host's loopback and is
# reached through qemu's restricted user network (10.0.2.100:8443 forwards
# there): it enrols, beats, and answers a VPN request "error", as the ARM
# machine has no VPN stack. First, while the host's side waits for it; in a
# subshell, so that its environment stays its own.
[ -z "$LUMIVO_ARM32_CLOUD" ] || ( s=0
    ip link set eth0 up && ip addr add 10.0.2.15/24 dev eth0 || s=1
    mkdir -p /tmp/agent/device/BOOT /tmp/agent/run
    export LUMIVO_CONNECT_TO=localhost:8443:10.0.2.100:8443
    export LUMIVO_DEVICE_ROOT=/tmp/agent/device LUMIVO_RUNTIME_DIR=/tmp/agent/run
    agent="$LUMIVO_ARM32_BUILD/platform/posix/lumivo-runtime"
    "$agent" -d > $out/agent-enrol.log 2>&1 &
    pid=$!
    for i in $(seq 60); do [ -s /tmp/agent/device/BOOT/env.json ] && break; sleep 1; done
    sleep 8
    kill -TERM $pid; wait $pid || s=1
    "$agent" -d -c -n -p=cpw > $out/agent.log 2>$out/agent.stderr &
    pid=$!
    for i in $(seq 90); do [ -e $out/cloud-done ] && break; sleep 1; done
    kill -TERM $pid; wait $pid || s=1
    echo "== the agent's lines"
    cat $out/agent.log
    exit $s ) || status=1

run() {
    echo "== $1 --gtest_filter=$2"
    "$LUMIVO_ARM32_BUILD/$1" --gtest_filter="$2" --gtest_brief=1 || status=1
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
    "$LUMIVO_ARM_PYTHON" "$tree/tests/hostile/hostile_test.py" "$scenario" || status=1
done
exit $status
