#!/usr/bin/env bash
# Runs the host-side NVMe conformance tests inside a small Linux guest under
# qemu-system-x86_64 (TCG), against QEMU's emulated NVMe controller, through
# the linux platform backend: once through vfio-pci behind an emulated IOMMU,
# once without IOMMU (sysfs and hugepages). A second controller in the guest
# is bound to the kernel's nvme driver and must stay untouched. When korvel
# and the kxm_nvme module are given, the example scripts of examples/nvme and
# the virtual function script beside this file run in the guest too, one
# result line each.
#
# Everything comes from Debian's packages: qemu-system-x86 (installed when
# missing and we are root), busybox-static and a kernel from linux-image
# (both downloaded and unpacked into the cache folder, not installed).
#
# Exit status: 0 passed, 1 failed, 77 skipped (packages not to be had).
#
#   run_qemu_tests.sh --cache DIR --work DIR --tests NVMEHOST_TESTS --check GUEST_CHECK
#                     [--korvel KORVEL --module KXM_NVME] [--variant vfio|noiommu]...
set -uo pipefail

CACHE= WORK= TESTS= CHECK= KORVEL= MODULE= VARIANTS=()
while [ $# -gt 0 ]; do
    case "$1" in
        --cache) CACHE=$2; shift 2 ;;
        --work) WORK=$2; shift 2 ;;
        --tests) TESTS=$2; shift 2 ;;
        --check) CHECK=$2; shift 2 ;;
        --korvel) KORVEL=$2; shift 2 ;;
        --module) MODULE=$2; shift 2 ;;
        --variant) VARIANTS+=("$2"); shift 2 ;;
        *) echo "run_qemu_tests.sh: unknown argument '$1'" >&2; exit 2 ;;
    esac
done
[ -n "$CACHE" ] && [ -n "$WORK" ] && [ -x "$TESTS" ] && [ -x "$CHECK" ] || {
    echo "usage: run_qemu_tests.sh --cache DIR --work DIR --tests NVMEHOST_TESTS --check GUEST_CHECK" >&2
    exit 2
}
[ -z "$KORVEL$MODULE" ] || { [ -x "$KORVEL" ] && [ -f "$MODULE" ]; } || {
    echo "run_qemu_tests.sh: --korvel and --module go together and must name the built files" >&2
    exit 2
}
[ ${#VARIANTS[@]} -gt 0 ] || VARIANTS=(vfio noiommu)
HERE=$(cd "$(dirname "$0")" && pwd)
EXAMPLES=$(cd "$HERE/../../examples/nvme" && pwd)
# Each boot is bounded so that the whole run stays within five minutes.
BOOT_TIMEOUT=${KXM_QEMU_BOOT_TIMEOUT:-110}

T0=$(date +%s)
skip() { echo "SKIPPED: $*"; exit 77; }
note() { echo "qemu harness: $*"; }

mkdir -p "$CACHE" "$WORK" || skip "cannot create $CACHE or $WORK"
CACHE=$(cd "$CACHE" && pwd)
WORK=$(cd "$WORK" && pwd)

# --- what the guest needs ------------------------------------------------

apt_updated=0
apt_update() {
    [ $apt_updated = 1 ] && return 0
    apt_updated=1
    note "apt-get update"
    apt-get update -qq >"$CACHE/apt-update.log" 2>&1
}

QEMU=$(command -v qemu-system-x86_64 || true)
if [ -z "$QEMU" ]; then
    [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null || skip "qemu-system-x86_64 is missing and cannot be installed here (not root or no apt-get)"
    note "installing qemu-system-x86"
    if ! DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends qemu-system-x86 \
            >"$CACHE/apt-install.log" 2>&1; then
        apt_update
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends qemu-system-x86 \
            >"$CACHE/apt-install.log" 2>&1 || skip "qemu-system-x86 cannot be installed (see $CACHE/apt-install.log)"
    fi
    QEMU=$(command -v qemu-system-x86_64) || skip "qemu-system-x86_64 not found after installing qemu-system-x86"
fi

# Downloads a package (by name) into the cache and unpacks it into $2.
fetch_deb() {
    local pkg=$1 dest=$2
    [ -f "$dest/.unpacked" ] && return 0
    command -v apt-get >/dev/null || return 1
    local deb
    deb=$(ls "$CACHE"/${pkg}_*.deb 2>/dev/null | head -n1)
    if [ -z "$deb" ]; then
        note "downloading $pkg"
        (cd "$CACHE" && apt-get download -qq "$pkg" >>"$CACHE/apt-download.log" 2>&1) ||
            { apt_update; (cd "$CACHE" && apt-get download -qq "$pkg" >>"$CACHE/apt-download.log" 2>&1); } ||
            return 1
        deb=$(ls "$CACHE"/${pkg}_*.deb 2>/dev/null | head -n1)
        [ -n "$deb" ] || return 1
    fi
    rm -rf "$dest" && mkdir -p "$dest" && dpkg -x "$deb" "$dest" && touch "$dest/.unpacked"
}

# The kernel package behind Debian's linux-image-amd64 meta package.
kernel_package() {
    apt-cache depends linux-image-amd64 2>/dev/null | sed -n 's/^ *Depends: \(linux-image-[0-9][^ ]*\)$/\1/p' | head -n1
}

command -v dpkg >/dev/null || skip "dpkg is missing: cannot unpack Debian packages"
fetch_deb busybox-static "$CACHE/busybox" || skip "busybox-static cannot be downloaded (see $CACHE/apt-download.log)"
BUSYBOX="$CACHE/busybox/bin/busybox"
[ -x "$BUSYBOX" ] || skip "busybox-static has no bin/busybox"

KPKG=$(cat "$CACHE/kernel-package" 2>/dev/null || true)
if [ -z "$KPKG" ]; then
    KPKG=$(kernel_package)
    [ -n "$KPKG" ] || { apt_update; KPKG=$(kernel_package); }
    [ -n "$KPKG" ] || skip "no kernel package found behind linux-image-amd64"
fi
fetch_deb "$KPKG" "$CACHE/kernel" || skip "$KPKG cannot be downloaded (see $CACHE/apt-download.log)"
echo "$KPKG" >"$CACHE/kernel-package"
VMLINUZ=$(ls "$CACHE"/kernel/boot/vmlinuz-* 2>/dev/null | head -n1)
KMODS=$(ls -d "$CACHE"/kernel/lib/modules/* 2>/dev/null | head -n1)
[ -n "$VMLINUZ" ] && [ -n "$KMODS" ] || skip "$KPKG holds no kernel image or modules"
note "kernel $(basename "$VMLINUZ"), busybox $("$BUSYBOX" | head -n1 | cut -d' ' -f2), $("$QEMU" --version | head -n1)"

# --- the initramfs ----------------------------------------------------------

ROOT="$WORK/initramfs"
rm -rf "$ROOT" && mkdir -p "$ROOT"/{bin,dev,proc,sys,tmp,modules,lib64}
cp "$BUSYBOX" "$ROOT/bin/busybox"

# A program (or a module) and the shared libraries it loads, at the same
# paths.
copy_program() {
    cp "$1" "$ROOT/bin/$(basename "$1")" || return 1
    local lib
    for lib in $(ldd "$1" 2>/dev/null | grep -o '/[^ ]*'); do
        [ -e "$ROOT$lib" ] && continue
        mkdir -p "$ROOT$(dirname "$lib")"
        cp -L "$lib" "$ROOT$lib" || return 1
    done
}
copy_program "$TESTS" || { echo "FAILED: cannot copy $TESTS into the initramfs"; exit 1; }
copy_program "$CHECK" || { echo "FAILED: cannot copy $CHECK into the initramfs"; exit 1; }
# korvel finds its modules in its own folder; the scripts go to /scripts.
if [ -n "$KORVEL" ]; then
    mkdir -p "$ROOT/scripts"
    { copy_program "$KORVEL" && copy_program "$MODULE" &&
      cp "$EXAMPLES"/{common.krvh,smoke.krv,resets.krv,namespaces.krv} "$HERE/vf.krv" "$ROOT/scripts/"; } ||
        { echo "FAILED: cannot copy korvel, its module and the scripts into the initramfs"; exit 1; }
fi

# Kernel modules with what they depend on, in loading order.
declare -A MOD_DONE=()
module_file() {
    local n=$1
    find "$KMODS/kernel" \( -name "$n.ko" -o -name "${n//_/-}.ko" -o -name "${n//-/_}.ko" \) 2>/dev/null | head -n1
}
add_module() {   # add_module NAME LISTFILE
    local n=$1 list=$2 f deps d
    [ -n "${MOD_DONE[$list:$n]:-}" ] && return 0
    MOD_DONE[$list:$n]=1
    f=$(module_file "$n")
    [ -n "$f" ] || { note "module $n not found (built in?)"; return 0; }
    deps=$(grep -a -o 'depends=[^[:cntrl:]]*' "$f" | head -n1 | cut -d= -f2)
    for d in ${deps//,/ }; do add_module "$d" "$list"; done
    cp "$f" "$ROOT/modules/"
    basename "$f" .ko >>"$ROOT/modules/$list"
}
for m in nvme; do add_module "$m" nvme.list; done
for m in vfio vfio_iommu_type1 vfio-pci; do add_module "$m" vfio.list; done

cp "$(dirname "$0")/guest-init.sh" "$ROOT/init"
chmod +x "$ROOT/init"
(cd "$ROOT" && find . | "$BUSYBOX" cpio -o -H newc 2>/dev/null | gzip -1 >"$WORK/initramfs.cpio.gz") ||
    { echo "FAILED: cannot pack the initramfs"; exit 1; }

# --- the guests ---------------------------------------------------------------

ACCEL=${KXM_QEMU_ACCEL:-tcg}
overall=0
for variant in "${VARIANTS[@]}"; do
    # Two controllers: 00:03.0 stands for the system's disk and is bound to
    # the kernel's nvme driver; 01:00.0, behind a root port without hotplug
    # (so that its link can be reset through the bridge), is the one under
    # test. It has a plain namespace (1, found first by the tests that want
    # one) and a zoned one (2: 1 MiB zones of 768 KiB capacity, at most 4
    # active and 2 open); each is given a UUID, as a drive has a unique
    # namespace identifier from the factory.
    SYS_IMG="$WORK/system-disk.img" TEST_IMG="$WORK/test-disk.img" ZONED_IMG="$WORK/zoned-disk.img"
    rm -f "$SYS_IMG" "$TEST_IMG" "$ZONED_IMG"
    head -c 4194304 /dev/urandom >"$SYS_IMG"
    truncate -s 256M "$TEST_IMG"
    truncate -s 8M "$ZONED_IMG"
    SYS_SUM=$(cksum <"$SYS_IMG")
    case "$variant" in
        vfio)
            # No interrupt remapping: the tests poll, and an emulated
            # remapping IO-APIC makes the guest kernel's timer check flaky.
            MACHINE="q35"
            IOMMU=(-device intel-iommu,intremap=off)
            APPEND="intel_iommu=on iommu=pt" ;;
        noiommu)
            MACHINE="q35"
            IOMMU=()
            APPEND="" ;;
        *) echo "FAILED: unknown variant $variant"; exit 1 ;;
    esac
    LOG="$WORK/$variant-console.log"
    t=$(date +%s)
    for attempt in 1 2; do
        note "booting the $variant guest (console log: $LOG)"
        timeout --foreground -k 5 "$BOOT_TIMEOUT" "$QEMU" -accel "$ACCEL" -M "$MACHINE" -cpu max -smp 1 -m 1024 \
            "${IOMMU[@]}" \
            -nographic -no-reboot -serial stdio -monitor none -display none -nodefaults \
            -kernel "$VMLINUZ" -initrd "$WORK/initramfs.cpio.gz" \
            -append "console=ttyS0 panic=-1 loglevel=4 no_timer_check kxm.mode=$variant $APPEND${KXM_QEMU_GTEST_FILTER:+ kxm.filter=$KXM_QEMU_GTEST_FILTER}${KXM_QEMU_SCRIPTS:+ kxm.scripts=$KXM_QEMU_SCRIPTS}" \
            -drive file="$SYS_IMG",if=none,id=sysdisk,format=raw \
            -device nvme,drive=sysdisk,serial=KXMSYSTEM,addr=3 \
            -device pcie-root-port,id=rp1,chassis=1,slot=1,addr=4,hotplug=off,x-speed=5 \
            -drive file="$TEST_IMG",if=none,id=testdisk,format=raw \
            -device nvme-subsys,id=testsubsys \
            -device nvme,id=testctl,serial=KXMTEST,bus=rp1,subsys=testsubsys,sriov_max_vfs=2,sriov_vq_flexible=4,sriov_vi_flexible=2 \
            -device nvme-ns,drive=testdisk,bus=testctl,nsid=1,uuid=6b786d2d-7465-7374-2d6e-616d65737061 \
            -drive file="$ZONED_IMG",if=none,id=zoneddisk,format=raw \
            -device nvme-ns,drive=zoneddisk,bus=testctl,nsid=2,uuid=6b786d2d-7a6f-6e65-642d-6e616d657370,zoned=true,zoned.zone_size=1M,zoned.zone_capacity=768K,zoned.max_active=4,zoned.max_open=2 \
            </dev/null >"$LOG" 2>&1
        rc=$?
        tr -d '\r' <"$LOG" >"$LOG.txt" && mv "$LOG.txt" "$LOG"
        # A guest kernel that died before our init ran (emulated timers can
        # be too slow for its checks under load) gets one more boot.
        grep -q 'KXM-QEMU: mode' "$LOG" && break
        [ $rc = 124 ] || [ $rc = 137 ] && break
        [ $attempt = 1 ] && mv "$LOG" "$LOG.first-boot" &&
            note "the $variant guest did not reach its init (see $LOG.first-boot); booting again"
    done
    secs=$(( $(date +%s) - t ))
    if [ $rc = 124 ] || [ $rc = 137 ]; then
        verdict="FAILED (no end within ${BOOT_TIMEOUT} s)"
    elif grep -q '^KXM-QEMU-RESULT: PASS' "$LOG"; then
        verdict="passed"
    elif grep -q '^KXM-QEMU-RESULT: FAIL' "$LOG"; then
        verdict="FAILED"
    else
        verdict="FAILED (the guest gave no result; qemu exit $rc)"
    fi
    if [ "$(cksum <"$SYS_IMG")" != "$SYS_SUM" ]; then
        verdict="FAILED (the disk behind the kernel's nvme driver was changed)"
    fi
    grep -E '^(guest-check:|\[  (PASSED|FAILED|SKIPPED) |\[==========\]|KXM-QEMU|\[[a-z]+\]   FAIL )' "$LOG" |
        sed -e 's/^KXM-QEMU-SCRIPT: /script /' -e "s/^/  [$variant] /"
    note "$variant: $verdict in ${secs} s"
    case "$verdict" in
        passed) ;;
        *) overall=1; echo "---- last lines of $LOG ----"; tail -n 60 "$LOG" ;;
    esac
done
note "wall time $(( $(date +%s) - T0 )) s"
exit $overall
