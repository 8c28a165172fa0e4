#!/bin/sh
# The first process of the release's machine (e2e/machine.sh boot): mounts
# what Wine needs and the floppy, then runs the host's commands.  A command
# is a file NAME.cmd in the spool folder $zdir/spool (shared with the host);
# its output goes to NAME.out and its exit code to NAME.rc.  The file "halt"
# powers the machine off.
export PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 PYTHONUNBUFFERED=1
b=/bin/busybox
$b mount -t proc proc /proc
$b mount -t sysfs sys /sys
$b mkdir -p /dev/pts /dev/shm /root
$b mount -t devpts -o ptmxmode=0666 devpts /dev/pts
$b mount -t tmpfs shm /dev/shm
$b hostname zavir98
for m in floppy vfat nls_cp437 nls_ascii nls_utf8 nls_iso8859-1; do $b modprobe $m 2>/dev/null; done
$b mount -t vfat -o ro /dev/fd0 /media/floppy || echo "no floppy" >&2

# The harness under 32-bit Wine, its medium on the floppy.
export ZAVIR_WINE=/usr/lib/wine/wine ZAVIR_WINESERVER=/usr/lib/wine/wineserver32
export ZAVIR_WINEARCH=win32 ZAVIR_E2E_FLOPPY=/media/floppy
export ZAVIR_E2E_PATIENCE=3
# Prefixes in memory: each of the many small files is a round trip over 9p.
# The template is kept between boots as one file in the machine's folder.
export ZAVIR_E2E_WINE_ROOT=/tmp/wine
template=$zdir/prefix.tar
$b mkdir -p /tmp/wine
[ -e "$template" ] && $b tar -C /tmp/wine -xf "$template"

spool=$zdir/spool
echo up > "$spool/ready"
while [ ! -e "$spool/halt" ]; do
  for cmd in "$spool"/*.cmd; do
    [ -e "$cmd" ] || continue
    name=${cmd%.cmd}
    mv "$cmd" "$name.run"
    # In the background: a look at the machine can be had meanwhile.
    (
      sh "$name.run" > "$name.out" 2>&1 < /dev/null
      rc=$?
      # Kept again when the harness made it anew (its recipe changed).
      stamp=/tmp/wine/template/.zavir-template
      if [ -e "$stamp" ] && { [ ! -e "$template" ] || [ "$stamp" -nt "$template" ]; }; then
        $b tar -C /tmp/wine -cf "$template.new" template && mv "$template.new" "$template"
      fi
      echo $rc > "$name.rc.new"
      mv "$name.rc.new" "$name.rc"
    ) &
  done
  sleep 0.2
done
sync
$b poweroff -f
