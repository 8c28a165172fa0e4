#!/usr/bin/env bash
# The emulated 32-bit PC the Windows 9x release runs in, under 32-bit Wine.
#
#   machine.sh make DIR          DIR/root (i386 Debian), DIR/vmlinuz, DIR/initrd;
#                                once: kept while DIR/.made names this recipe
#   machine.sh boot DIR SRC FLOPPY   qemu in the foreground; SRC (the source
#                                tree, build folders in it) is shared at the
#                                same path; the guest runs SRC/e2e/guest.sh
#
# The root is made by extraction alone, so this does what the packages'
# maintainer scripts would have.  Software CPU: nested KVM here is far slower.
set -euo pipefail

packages=wine32,wine,xvfb,imagemagick,linux-image-686,busybox-static,python3,dash,coreutils
# Loaded by the initramfs, in this order, to mount the root over 9p.
modules="virtio_ring virtio virtio_pci_legacy_dev virtio_pci_modern_dev virtio_pci
         9pnet 9pnet_virtio netfs fscache 9p"

make_machine() {
  local dir=$1 root=$1/root recipe
  # Made again when the way it is made changes.
  recipe=$({ declare -f make_machine make_initrd; echo "$packages $modules"; } | sha1sum | cut -c1-40)
  [ "$(head -n1 "$dir/.made" 2>/dev/null)" = "$recipe" ] && return 0
  if [ "$(id -u)" != 0 ]; then
    echo "making the release's machine needs root: its files keep their owners" >&2
    return 1
  fi
  local started=$SECONDS
  rm -rf "$root" "$dir/.made" "$dir/prefix.tar" && mkdir -p "$dir"
  # A mirror now and then fails an update while it syncs (seen for twenty
  # minutes on the security archive's i386 index): try again, then without
  # the security archive, which a test machine can do without.
  local try sources=()
  for try in 1 2 3; do
    mmdebstrap --quiet --variant=extract --arch=i386 --include="$packages" bookworm "$root" \
      "${sources[@]}" && break
    [ "$try" = 3 ] && return 1
    echo "mmdebstrap failed (try $try of 3); again in 30 s" >&2
    rm -rf "$root"
    sleep 30
    sources=("deb http://deb.debian.org/debian bookworm main"
             "deb http://deb.debian.org/debian bookworm-updates main")
  done
  ln -sf dash "$root/bin/sh"
  ln -sf import-im6.q16 "$root/usr/bin/import"  # an alternative of imagemagick
  mkdir -p "$root/proc" "$root/sys" "$root/dev" "$root/tmp" "$root/media/floppy"
  printf 'include /etc/ld.so.conf.d/*.conf\n' > "$root/etc/ld.so.conf"
  ldconfig -r "$root"
  local kver
  kver=$(basename "$(ls -d "$root"/lib/modules/*)")
  depmod -b "$root" "$kver"
  # libwine's post-install step: zlib from mingw, marked as Wine's own.
  local mingw wine_arch in out
  for mingw in i686 x86_64; do
    wine_arch=$mingw; [ "$mingw" = i686 ] && wine_arch=i386
    for in in "$root"/usr/$mingw-w64-mingw32/lib/zlib*.dll; do
      out=$root/usr/lib/i386-linux-gnu/wine/$wine_arch-windows/$(basename "$in")
      [ -d "$(dirname "$out")" ] || continue
      { head -c 64 "$in"; printf 'Wine builtin DLL'; head -c 16 /dev/zero; tail -c +97 "$in"; } > "$out"
    done
  done
  cp "$root/boot/vmlinuz-$kver" "$dir/vmlinuz"
  make_initrd "$root" "$kver" "$dir/initrd"
  echo "made $(du -sh "$root" | cut -f1) root, kernel $kver"
  printf '%s\nmade in %d s\n' "$recipe" $((SECONDS - started)) > "$dir/.made"
  echo "machine made in $((SECONDS - started)) s"
}

make_initrd() {
  local root=$1 kver=$2 out=$3 tree m path
  tree=$(mktemp -d)
  mkdir -p "$tree/bin" "$tree/newroot" "$tree/proc" "$tree/dev" "$tree/modules"
  cp "$root/bin/busybox" "$tree/bin/busybox"
  for m in $modules; do
    path=$(grep -E "(^|/)$m\.ko(\.[a-z]+)?:" "$root/lib/modules/$kver/modules.dep" | cut -d: -f1 || true)
    [ -n "$path" ] && cp "$root/lib/modules/$kver/$path" "$tree/modules/"
  done
  cat > "$tree/init" <<EOF
#!/bin/busybox sh
/bin/busybox mount -t proc proc /proc
/bin/busybox mount -t devtmpfs dev /dev
for m in $(echo $modules); do
  for f in /modules/\$m.ko*; do [ -e "\$f" ] && /bin/busybox insmod "\$f"; done
done
opts=trans=virtio,version=9p2000.L,msize=512000
/bin/busybox mount -t 9p -o \$opts,cache=loose root /newroot || exec /bin/busybox sh
# /tmp before the source tree, which may be in it.
/bin/busybox mount -t tmpfs tmp /newroot/tmp
/bin/busybox mkdir -p "/newroot\$zsrc"
/bin/busybox mount -t 9p -o \$opts src "/newroot\$zsrc" || exec /bin/busybox sh
/bin/busybox umount /proc
/bin/busybox mount --move /dev /newroot/dev
exec /bin/busybox switch_root /newroot /bin/sh "\$zsrc/e2e/guest.sh"
EOF
  chmod +x "$tree/init"
  (cd "$tree" && find . | cpio --quiet -o -H newc | gzip -1) > "$out"
  rm -rf "$tree"
}

boot() {
  local dir=$1 src=$2 floppy=$3
  # One emulated CPU per host core, each on a thread of its own: Wine's
  # server, its helpers and the program under test run side by side (the
  # whole life takes two thirds of its time on one).
  local cpus
  cpus=$(nproc)
  [ "$cpus" -gt 4 ] && cpus=4
  exec qemu-system-i386 -accel tcg,thread=multi -smp "$cpus" -m 2048 \
    -display none -no-reboot -nic none -serial "file:$dir/console.log" \
    -kernel "$dir/vmlinuz" -initrd "$dir/initrd" \
    -append "console=ttyS0 quiet panic=-1 mitigations=off zsrc=$src zdir=$dir" \
    -virtfs "local,path=$dir/root,mount_tag=root,security_model=passthrough,id=root" \
    -virtfs "local,path=$src,mount_tag=src,security_model=passthrough,id=src" \
    -drive "file=$floppy,if=floppy,format=raw,readonly=on"
}

case ${1:-} in
  make) make_machine "$2" ;;
  boot) boot "$2" "$3" "$4" ;;
  *) echo "usage: $0 make DIR | boot DIR SRC FLOPPY" >&2; exit 2 ;;
esac
