"""An emulated machine for tests that need a kernel this host lacks (PPP,
L2TP, IPsec): qemu with software emulation boots Debian's own kernel, taken
from its package into the build folder (never installed), with this host's
root shared read-only over 9p under a tmpfs overlay, and a small initramfs of
our own (busybox-static). The guest runs one script as its init's last step
and powers off; its folder `out` (shared writable) carries results back.

Usage as a module: Machine(build_folder).run(script, environment, timeout).
"""

import glob
import hashlib
import os
import shutil
import subprocess
import sys
import time

ARCHES = {
    # qemu program, kernel package, machine options, 9p device, console
    "amd64": ("qemu-system-x86_64", "linux-image-amd64",
              ["-accel", "tcg,tb-size=256", "-smp", "1", "-m", "512"], "virtio-9p-pci", "ttyS0"),
    # The board's CPU. On "virt" the PCI form of 9p is not claimed by this
    # kernel; the MMIO form is.
    "armhf": ("qemu-system-arm", "linux-image-armmp:armhf",
              ["-M", "virt", "-cpu", "cortex-a15", "-accel", "tcg,tb-size=256", "-smp", "1",
               "-m", "512"], "virtio-9p-device", "ttyAMA0"),
}
INITRAMFS_MODULES = ["virtio_pci", "virtio_mmio", "9pnet_virtio", "9p", "overlay", "virtio_net"]

# The ARM machine cannot run the host's x86 programs: its init, in the
# initramfs's busybox, mounts the host's root read-only at /host, puts the
# machine's own busybox there in place of the host's shell and, first on the
# PATH, of its tools, and switches to it (a chroot would refuse the tests
# their user namespaces). The host's armhf multiarch libraries serve the ARM
# programs.
INIT_ARM = r"""#!/bin/busybox sh
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
for m in $(cat /modules); do insmod /lib/$m || echo "insmod $m failed"; done
mkdir -p /host /out
mount -t 9p -o trans=virtio,version=9p2000.L,ro,msize=262144 host /host || exec sh
mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144 out /out
mount -t proc proc /host/proc
mount -t sysfs sysfs /host/sys
mount -t devtmpfs devtmpfs /host/dev
. /out/environment
# /tmp is fresh and writable; a tree under the host's /tmp (a clone there)
# is bound back in.
mkdir -p /hosttmp
mount --bind /host/tmp /hosttmp
mount -t tmpfs tmpfs /host/tmp
case "$LUMIVO_VM_SCRIPT" in /tmp/*)
    top=${LUMIVO_VM_SCRIPT#/tmp/}; top=${top%%/*}
    mkdir -p "/host/tmp/$top" && mount --bind "/hosttmp/$top" "/host/tmp/$top" ;;
esac
mount -t tmpfs tmpfs /host/run
mkdir -p /host/run/out /host/run/tools
mount --bind /out /host/run/out
cp /bin/busybox /host/run/tools/
for applet in $(busybox --list); do ln -s busybox /host/run/tools/$applet; done
mount --bind /host/run/tools/busybox /host/bin/sh
echo "guest: running $LUMIVO_VM_SCRIPT"
exec switch_root /host /run/tools/sh /run/out/stage2.sh
"""
STAGE2_ARM = r"""
export PATH=/run/tools:/usr/sbin:/usr/bin:/sbin:/bin
. /run/out/environment
ip link set lo up
cd /run/out
sh "$LUMIVO_VM_SCRIPT" > /run/out/guest.log 2>&1
echo $? > /run/out/status
sync
echo b > /proc/sysrq-trigger
sleep 10
"""
SKIP = 77

INIT = r"""#!/bin/busybox sh
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t devtmpfs devtmpfs /dev
for m in $(cat /modules); do insmod /lib/$m || echo "insmod $m failed"; done
mkdir -p /lower /rw /newroot
mount -t 9p -o trans=virtio,version=9p2000.L,ro,msize=262144 host /lower || exec sh
mount -t tmpfs -o size=200m tmpfs /rw
mkdir -p /rw/upper /rw/work
mount -t overlay -o lowerdir=/lower,upperdir=/rw/upper,workdir=/rw/work overlay /newroot || exec sh
umount /proc
umount /dev
exec switch_root /newroot /bin/sh "$lumivo_stage2"
"""

# Runs in the host's root as process 1 (/tmp is the overlay's, so a tree
# under the host's /tmp stays visible): the machine's own mounts, the
# kernel's modules in place, the test script, power off.
STAGE2 = r"""
export PATH=/usr/sbin:/usr/bin:/sbin:/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mkdir -p /dev/pts /dev/shm
mount -t devpts devpts /dev/pts
mount -t tmpfs tmpfs /run
mount -t tmpfs tmpfs /dev/shm
mkdir -p /run/out /run/lock
mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144 out /run/out
. /run/out/environment
mkdir -p /lib/modules
mount --bind "$LUMIVO_VM_MODULES" /lib/modules
ip link set lo up
echo "guest: running $LUMIVO_VM_SCRIPT"
cd /run/out
"$LUMIVO_VM_PYTHON" -u "$LUMIVO_VM_SCRIPT" > /run/out/guest.log 2>&1
echo $? > /run/out/status
sync
echo b > /proc/sysrq-trigger
sleep 10
"""


class Skip(Exception):
    """The machine cannot be run here."""


def run(*command, **options):
    return subprocess.run(command, check=True, capture_output=True, text=True, **options)


class Machine:
    def __init__(self, folder, arch="amd64"):
        self.folder = os.path.abspath(folder)
        self.arch = arch
        self.qemu, self.package, self.options, self.ninep, self.console = ARCHES[arch]
        os.makedirs(self.folder, exist_ok=True)

    def _kernel(self):
        """The kernel package's files under folder/kernel, with modules.dep."""
        root = os.path.join(self.folder, "kernel-" + self.arch)
        found = glob.glob(os.path.join(root, "boot", "vmlinuz-*"))
        if not found:
            depends = run("apt-cache", "depends", self.package).stdout.split()
            name = next(d for d in depends if d.startswith("linux-image-") and
                        d.split(":")[0] != self.package.split(":")[0])
            if ":" in self.package and ":" not in name:
                name += ":" + self.package.split(":")[1]
            for old in glob.glob(os.path.join(self.folder, "*.deb")):
                os.remove(old)
            run("apt-get", "download", name, cwd=self.folder)
            deb = glob.glob(os.path.join(self.folder, "linux-image-*.deb"))[0]
            shutil.rmtree(root, ignore_errors=True)
            run("dpkg-deb", "-x", deb, root)
            found = glob.glob(os.path.join(root, "boot", "vmlinuz-*"))
        vmlinuz = found[0]
        version = os.path.basename(vmlinuz)[len("vmlinuz-"):]
        modules = os.path.join(root, "lib", "modules", version)
        if not os.path.exists(os.path.join(modules, "modules.dep")):
            run("depmod", "-b", root, version)
        return vmlinuz, modules

    def _initramfs(self, modules):
        """busybox-static and the modules the root's mount needs, in the order
        they depend on each other."""
        init = INIT if self.arch == "amd64" else INIT_ARM
        image = os.path.join(self.folder, "initrd-%s-%s.cpio" % (
            self.arch, hashlib.sha1(init.encode()).hexdigest()[:12]))
        if os.path.exists(image):
            return image
        busybox = shutil.which("busybox") or "/bin/busybox"
        if self.arch != "amd64":
            # The board's own busybox-static, from its package (not installed).
            unpacked = os.path.join(self.folder, "busybox-" + self.arch)
            if not os.path.exists(os.path.join(unpacked, "bin", "busybox")):
                run("apt-get", "download", "busybox-static:" + self.arch, cwd=self.folder)
                deb = glob.glob(os.path.join(self.folder, "busybox-static_*_%s.deb" % self.arch))[0]
                run("dpkg-deb", "-x", deb, unpacked)
                os.remove(deb)
            busybox = os.path.join(unpacked, "bin", "busybox")
        else:
            linked = subprocess.run(["ldd", busybox], capture_output=True, text=True)
            if "not a dynamic" not in linked.stdout + linked.stderr:
                raise Skip("busybox is not the static one (busybox-static)")
        dep = {}
        with open(os.path.join(modules, "modules.dep")) as f:
            for line in f:
                target, _, needs = line.partition(":")
                dep[os.path.basename(target).split(".ko")[0].replace("-", "_")] = (
                    target, needs.split())
        ordered = []

        def add(path):
            name = os.path.basename(path).split(".ko")[0].replace("-", "_")
            for need in dep.get(name, (None, []))[1]:
                add(need)
            if path not in ordered:
                ordered.append(path)
        for name in INITRAMFS_MODULES:
            if name in dep:  # built into the kernel otherwise
                add(dep[name][0])
        tree = os.path.join(self.folder, "initramfs-" + self.arch)
        shutil.rmtree(tree, ignore_errors=True)
        for d in ("bin", "lib", "proc", "sys", "dev", "newroot"):
            os.makedirs(os.path.join(tree, d))
        shutil.copy(busybox, os.path.join(tree, "bin", "busybox"))
        for path in ordered:
            shutil.copy(os.path.join(modules, path), os.path.join(tree, "lib"))
        with open(os.path.join(tree, "modules"), "w") as f:
            f.write("\n".join(os.path.basename(p) for p in ordered) + "\n")
        with open(os.path.join(tree, "init"), "w") as f:
            f.write(init)
        os.chmod(os.path.join(tree, "init"), 0o755)
        listing = run("find", ".", cwd=tree).stdout
        with open(image, "wb") as out:
            subprocess.run(["busybox", "cpio", "-o", "-H", "newc"], input=listing.encode(),
                           stdout=out, cwd=tree, check=True, stderr=subprocess.DEVNULL)
        return image

    def run(self, script, environment, timeout, network=("-nic", "none")):
        """Boots, runs script (Python, in the guest) with environment; the
        guest's exit status, its log and the console text. network: qemu's
        network options (a restricted user network may forward to this
        host's loopback)."""
        if shutil.which(self.qemu) is None:
            raise Skip(self.qemu + " is not installed")
        vmlinuz, modules = self._kernel()
        initrd = self._initramfs(modules)
        out = os.path.join(self.folder, "out")
        shutil.rmtree(out, ignore_errors=True)
        os.makedirs(out)
        stage2 = os.path.join(out, "stage2.sh")
        with open(stage2, "w") as f:
            f.write(STAGE2 if self.arch == "amd64" else STAGE2_ARM)
        values = dict(environment, LUMIVO_VM_SCRIPT=os.path.abspath(script),
                      LUMIVO_VM_PYTHON="/usr/bin/python3",
                      LUMIVO_VM_MODULES=os.path.dirname(modules))
        with open(os.path.join(out, "environment"), "w") as f:
            for key, value in values.items():
                f.write("export %s='%s'\n" % (key, value))
        command = [self.qemu] + self.options + [
            "-nographic", "-no-reboot"] + list(network) + [
            "-kernel", vmlinuz, "-initrd", initrd,
            "-append", "console=%s panic=-1 quiet lumivo_stage2=%s" % (self.console, stage2),
            "-fsdev", "local,id=host,path=/,security_model=none,readonly=on,multidevs=remap",
            "-device", "%s,fsdev=host,mount_tag=host" % self.ninep,
            "-fsdev", "local,id=out,path=%s,security_model=none,multidevs=remap" % out,
            "-device", "%s,fsdev=out,mount_tag=out" % self.ninep]
        started = time.monotonic()
        try:
            console = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True,
                                     timeout=timeout).stdout.decode("utf-8", "replace")
        except subprocess.TimeoutExpired as e:
            console = (e.stdout or b"").decode("utf-8", "replace") + "\n[qemu timed out]"
        seconds = time.monotonic() - started
        status = None
        try:
            with open(os.path.join(out, "status")) as f:
                status = int(f.read().strip())
        except (OSError, ValueError):
            pass
        log = ""
        if os.path.exists(os.path.join(out, "guest.log")):
            with open(os.path.join(out, "guest.log"), errors="replace") as f:
                log = f.read()
        return status, log, console, seconds
