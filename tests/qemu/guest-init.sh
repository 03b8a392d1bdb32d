#!/bin/busybox sh
# /init of the QEMU guest: hands the controller under test to the linux
# backend the way a user would (vfio-pci, or no driver at all), binds the
# other controller to the kernel's nvme driver, runs the guest check and the
# conformance tests, reports on the console and powers off.
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev

SYSTEM=0000:00:03.0
TEST=0000:01:00.0
MODE=$(sed -n 's/.*kxm\.mode=\([a-z]*\).*/\1/p' /proc/cmdline)
RESULT=PASS
fail() { echo "KXM-QEMU: $*"; RESULT=FAIL; }
finish() {
    echo "KXM-QEMU-RESULT: $RESULT"
    sync
    poweroff -f
    sleep 5
}
echo "KXM-QEMU: mode $MODE"

# Nothing but us may take the controller under test.
echo kxm-none >/sys/bus/pci/devices/$TEST/driver_override

while read -r m; do insmod /modules/$m.ko || fail "insmod $m"; done </modules/nvme.list
for i in $(seq 50); do [ -e /sys/bus/pci/devices/$SYSTEM/driver ] && break; sleep 0.1; done
[ "$(basename "$(readlink /sys/bus/pci/devices/$SYSTEM/driver)")" = nvme ] || fail "the system disk is not bound to nvme"

OPT=
case "$MODE" in
vfio)
    while read -r m; do insmod /modules/$m.ko || fail "insmod $m"; done </modules/vfio.list
    echo vfio-pci >/sys/bus/pci/devices/$TEST/driver_override
    echo $TEST >/sys/bus/pci/drivers_probe
    [ "$(basename "$(readlink /sys/bus/pci/devices/$TEST/driver)")" = vfio-pci ] || fail "$TEST is not bound to vfio-pci"
    echo "KXM-QEMU: IOMMU group $(basename "$(readlink /sys/bus/pci/devices/$TEST/iommu_group)")"
    ;;
noiommu)
    [ -e /sys/bus/pci/devices/$TEST/driver ] && fail "$TEST is bound to a driver"
    echo 64 >/proc/sys/vm/nr_hugepages
    echo "KXM-QEMU: hugepages $(cat /proc/sys/vm/nr_hugepages)"
    OPT=--no-iommu
    ;;
*)
    fail "unknown mode '$MODE'"
    finish
    ;;
esac

export KXM_NVME_PLATFORM=linux GTEST_COLOR=no
kxm_qemu_guest_check $OPT $TEST || fail "guest check"
# The platform tests of the simulated bus have nothing to do with this
# device; everything else runs as on the host.
nvmehost_tests --gtest_filter='-PlatformOpen.*:PlatformBus.*' || fail "conformance tests"
[ "$(basename "$(readlink /sys/bus/pci/devices/$SYSTEM/driver)")" = nvme ] || fail "the system disk lost its driver"
finish
