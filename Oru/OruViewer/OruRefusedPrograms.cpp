#include "Oru/OruViewer/OruRefusedPrograms.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <iterator>
#include <set>
#include <string>
#include <string_view>
#include <utility>

#include "Oru/OruViewer/OruProgramStart.h"
#include "Platform/PlatProcess.h"
#include "Platform/PlatSpoof.h"
#include "Platform/PlatUtf8.h"

namespace oru {

namespace {


// The system's own command words.
constexpr std::u16string_view kRefused[] = {
    u">",       u"at",     u"attrib",   u"call",     u"cmd",     u"command", u"copy",   u"del",   u"deltree", u"erase",
    u"for",     u"format", u"fdisk",    u"runonce",  u"move",    u"net",     u"runas",  u"net1",  u"ren",     u"rename",
    u"replace", u"rmdir",  u"rd",       u"recover",  u"regedit", u"rundll",  u"qstart", u"start", u"sys",     u"type",
    u"xcopy",   u"regsrv", u"regedt32", u"regsvr32", u"rcp",     u"ftp",     u"tftp"};
// Their counterparts here, by what makes them dangerous to start from a
// show: each runs code or commands that its arguments or the files they
// name give, or deletes, overwrites, gives away or shuts down.
constexpr std::u16string_view kShells[] = {
    u"sh",     u"bash",  u"rbash", u"dash",  u"ash",    u"zsh",   u"ksh", u"mksh", u"lksh",       u"pdksh",
    u"oksh",   u"csh",   u"tcsh",  u"fish",  u"yash",   u"posh",  u"elvish", u"xonsh", u"nu",    u"pwsh",
    u"powershell", u"busybox", u"toybox", u"sash", u"rc", u"osh", u"ysh", u"git-shell"};
constexpr std::u16string_view kInterpreters[] = {
    u"python", u"python2", u"python3", u"pypy",  u"ipython", u"jupyter", u"pydoc",  u"pdb",    u"perl",   u"perldoc",
    u"ruby",   u"irb",     u"ri",      u"erb",   u"pry",     u"node",    u"nodejs", u"deno",   u"bun",    u"ts-node",
    u"php",    u"php-cgi", u"phpdbg",  u"psysh", u"lua",     u"luajit",  u"texlua", u"tclsh",  u"wish",   u"expect",
    u"guile",  u"racket",  u"sbcl",    u"clisp", u"ecl",     u"gcl",     u"ocaml",  u"ghci",   u"runghc", u"runhaskell",
    u"swipl",  u"gforth",  u"pike",    u"r",     u"rscript", u"octave",  u"octave-cli", u"julia", u"gnuplot", u"maxima",
    u"m4",     u"dc",      u"java",    u"jshell", u"jrunscript", u"jdb", u"scala",  u"groovy", u"kotlin", u"dotnet",
    u"mono",   u"csharp",  u"qjs",     u"rhino", u"jjs",     u"js",      u"elixir", u"iex",    u"erl",    u"escript",
    u"lilypond", u"awk",   u"gawk",    u"mawk",  u"nawk",    u"sed",     u"gdb",    u"lldb",   u"gdbtui", u"regina",
    u"rexx",   u"lli",     u"clang-repl", u"gs", u"cobcrun", u"jexec",   u"jhsdb",  u"llvm-jitlink", u"llvm-rtdyld",
    u"llvm-jitlink-executor", u"lli-child-target", u"conjure"};
constexpr std::u16string_view kBuildTools[] = {
    u"make",   u"gmake",   u"bmake",   u"pmake", u"cmake",   u"ctest",   u"cpack",  u"ninja",  u"samu",   u"meson",
    u"scons",  u"waf",     u"ant",     u"mvn",   u"gradle",  u"sbt",     u"lein",   u"cargo",  u"rustc",  u"rustup",
    u"go",     u"gcc",     u"g++",     u"cc",    u"c++",     u"cpp",     u"c89",    u"c99",    u"clang",  u"clang++",
    u"tcc",    u"pcc",     u"gfortran", u"gccgo", u"gdc",    u"ldc2",    u"dmd",    u"as",     u"ld",     u"gold",
    u"lld",    u"collect2", u"javac",  u"kotlinc", u"scalac", u"ghc",    u"fpc",    u"nim",    u"zig",    u"swiftc",
    u"valac",  u"gnatmake", u"gnat",   u"bazel", u"bazelisk", u"qmake",  u"autoreconf", u"autoconf", u"automake",
    u"libtool", u"dpkg-buildpackage", u"debuild", u"rpmbuild", u"makepkg", u"pip", u"pip2", u"pip3", u"pipx", u"npm",
    u"npx",    u"yarn",    u"pnpm",    u"gem",   u"bundle",  u"bundler", u"rake",   u"composer", u"mix",  u"rebar3",
    u"stack",  u"cabal",   u"dune",    u"opam",  u"nix",     u"nix-shell", u"guix", u"tex",    u"latex",  u"pdflatex",
    u"xelatex", u"lualatex", u"luatex", u"pdftex", u"xetex", u"latexmk", u"mpost",  u"context", u"cobc",
    u"instantfpc", u"ifpc",  u"ppcx64",  u"fppkg", u"nvcc",    u"gnatlink", u"gnatchop", u"terraform"};
constexpr std::u16string_view kDatabaseShells[] = {
    u"sqlite", u"sqlite3", u"sqlcipher", u"duckdb", u"mysql", u"mariadb", u"psql", u"pgcli", u"mycli", u"litecli",
    u"mongo",  u"mongosh", u"redis-cli", u"cqlsh", u"sqlplus", u"isql", u"usql", u"clickhouse-client", u"influx"};
constexpr std::u16string_view kRunners[] = {
    u"timeout", u"nice",    u"ionice",  u"xargs",  u"stdbuf",  u"time",    u"taskset", u"chrt",   u"flock",  u"env",
    u"nohup",   u"setsid",  u"find",    u"run-parts", u"strace", u"ltrace", u"setarch", u"linux32", u"linux64",
    u"i386",    u"x86_64",  u"uname26", u"prlimit", u"watch",  u"parallel", u"script", u"systemd-run",
    u"systemd-inhibit", u"systemd-nspawn", u"systemd-cat", u"machinectl", u"nsenter", u"capsh", u"firejail", u"bwrap",
    u"unshare", u"setpriv", u"chroot",  u"fakechroot", u"fakeroot", u"faketime", u"eatmydata", u"valgrind", u"perf",
    u"catchsegv", u"ldd",   u"xvfb-run", u"dbus-run-session", u"dbus-launch", u"ssh-agent", u"startx", u"xinit",
    u"daemonize", u"start-stop-daemon", u"runcon", u"numactl", u"cpulimit", u"unbuffer", u"rlwrap", u"chronic",
    u"ifne",    u"pee",     u"entr",    u"tmux",   u"screen",  u"dtach",   u"abduco", u"mpirun", u"mpiexec",
    u"xdotool", u"ydotool", u"kstart",  u"gdbserver", u"bear",  u"ccache",  u"choom",  u"dpkg-architecture",
    u"gpg-connect-agent", u"heaptrack", u"intercept-build", u"not", u"sotruss", u"uclampset", u"luit", u"prove",
    u"bats",    u"memusage", u"scan-build", u"systemd-socket-activate", u"logsave", u"fstab-decode", u"switch_root",
    u"agetty",  u"scriptlive", u"gtester", u"gprofng", u"gp-collect-app", u"docker", u"kubectl", u"openbox"};
constexpr std::u16string_view kCommandArguments[] = {
    u"split",    u"apt",        u"apt-get",  u"ps2pdf",      u"pamexec",       u"msgexec", u"msgfilter",
    u"groff",    u"troff",      u"cppcheck", u"nm",          u"opt",           u"llc",     u"openssl",
    u"pygmentize", u"bugpoint", u"llvm-reduce", u"llvm-exegesis", u"clangd",   u"clang-tidy", u"dpkg",
    u"pkcon",    u"rpcgen", u"ppmtompeg"};
constexpr std::u16string_view kArchivers[] = {u"tar",  u"zip",  u"cpio",   u"rsync", u"scp",   u"sftp",
                                              u"dar",  u"afio", u"rclone", u"unison", u"borg", u"restic",
                                              u"duplicity", u"git", u"hg",  u"svn", u"gpgtar",
                                              u"unzip"};
constexpr std::u16string_view kEditors[] = {
    u"vi",     u"vim",     u"nvim",    u"ex",    u"view",    u"rvim",    u"rview",  u"gvim",   u"gview",  u"evim",
    u"vimdiff", u"gvimdiff", u"emacs", u"emacs-gtk", u"emacs-nox", u"emacs-lucid", u"emacsclient", u"nano", u"rnano",
    u"pico",   u"joe",     u"jed",     u"jmacs", u"jpico",   u"jstar",   u"mcedit", u"ne",     u"micro",  u"kak",
    u"hx",     u"helix",   u"mg",      u"zile",  u"ed",      u"red",     u"editor", u"sensible-editor",
    u"select-editor",
    u"vipe",   u"less",    u"more",    u"most",  u"pg",      u"pager",   u"sensible-pager", u"man", u"info", u"pinfo",
    u"w3m",    u"lynx",    u"elinks",  u"links", u"links2",  u"vipw",    u"vigr"};
constexpr std::u16string_view kTerminals[] = {
    u"xterm",  u"uxterm",  u"x-terminal-emulator", u"gnome-terminal", u"konsole", u"xfce4-terminal", u"lxterminal",
    u"mate-terminal", u"terminator", u"tilix", u"kitty", u"alacritty", u"urxvt", u"rxvt", u"foot", u"st", u"sakura",
    u"terminology", u"qterminal", u"guake", u"tilda", u"yakuake", u"wezterm", u"kgx", u"gnome-console"};
constexpr std::u16string_view kOpeners[] = {
    u"xdg-open", u"gio", u"gvfs-open", u"kde-open", u"kioclient", u"exo-open", u"gnome-open", u"gtk-launch", u"dex",
    u"mimeopen", u"run-mailcap", u"sensible-browser", u"dbus-send", u"gdbus", u"busctl", u"gapplication",
    u"dbus-daemon", u"dbus-update-activation-environment"};
constexpr std::u16string_view kPrivilege[] = {
    u"sudo",   u"sudoedit", u"su",     u"doas",     u"pkexec",  u"runuser", u"sg",       u"newgrp",  u"gksu",
    u"gksudo", u"kdesu",    u"kdesudo", u"useradd", u"usermod", u"userdel", u"groupadd", u"groupmod", u"groupdel",
    u"chpasswd", u"chgpasswd", u"newusers"};
constexpr std::u16string_view kDeleting[] = {
    u"rm",     u"rmdir",   u"unlink",  u"shred", u"truncate", u"dd",     u"mkfs",   u"mke2fs", u"mkswap", u"wipefs",
    u"fdisk",  u"sfdisk",  u"cfdisk",  u"gdisk", u"sgdisk",  u"parted",  u"blkdiscard", u"cp", u"mv",     u"ln",
    u"install", u"tee",    u"sponge",  u"patch", u"chmod",   u"chown",   u"chgrp",  u"chattr", u"setfacl", u"setcap",
    u"mount",  u"umount",  u"losetup", u"cryptsetup", u"systemd-tmpfiles", u"chcon", u"fallocate",
    u"hardlink", u"delpart", u"addpart", u"resizepart", u"partx", u"systemd-repart", u"debugfs", u"resize2fs",
    u"tune2fs", u"e2fsck",  u"fsck",    u"systemd-mount", u"systemd-umount"};
constexpr std::u16string_view kNetwork[] = {u"curl", u"wget",  u"nc",     u"ncat",   u"netcat", u"socat",
                                            u"ssh",  u"rsh",   u"rlogin", u"telnet", u"mosh",   u"lftp"};
constexpr std::u16string_view kProcesses[] = {
    u"kill",   u"killall", u"pkill",   u"skill", u"xkill",   u"shutdown", u"reboot", u"poweroff", u"halt", u"systemctl",
    u"service", u"init",   u"telinit", u"loginctl", u"crontab", u"at",   u"batch",  u"modprobe", u"insmod", u"rmmod",
    u"sysctl", u"ctrlaltdel", u"rtcwake"};

// Programs refused only as what really runs: their names are common words.
constexpr std::u16string_view kOptionsRun[] = {
    u"scrot",   u"gpg",        u"gpg2",      u"gpgsm",      u"gpg-agent", u"gpgconf",    u"dirmngr",
    u"dirmngr-client", u"gpg-wks-server", u"gpg-wks-client", u"gpgcompose", u"ssh-add", u"ssh-keygen",
    u"sdiff",   u"diff3",      u"xkbevd",    u"vgdb",       u"valgrind-di-server", u"valgrind-listener",
    u"glib-compile-resources", u"pkgdata", u"optscript", u"import", u"jhead", u"xsltproc", u"yad",
    u"mutt",    u"neomutt",    u"mail",      u"mailx",      u"s-nail",    u"sendmail",   u"procmail",
    u"fetchmail", u"mc",       u"ranger",    u"nnn",        u"lf",        u"vifm",       u"javadoc",
    u"jcmd",    u"jinfo",      u"jmap",      u"jstack",     u"jconsole",  u"jpackage",   u"jlink",
    u"jdeps",   u"jdeprscan",  u"jfr",       u"jps",        u"jstat",     u"jwebserver", u"javaws",
    u"protoc",  u"capnp",      u"flatc",     u"thrift",     u"compileserver", u"c-index-test", u"swig",
    u"doxygen", u"bison",      u"yacc",      u"flex",       u"lex",       u"gperf",      u"re2c",
    u"wine",    u"wine64",     u"wine-stable", u"wineconsole", u"dosbox", u"box64",      u"box86",
    u"bochs",   u"flatpak",    u"snap",      u"vboxmanage", u"virtualbox", u"vmplayer",  u"vmrun",
    u"podman",  u"nerdctl",    u"ctr",       u"crun",       u"runc",      u"lxc", u"pic", u"gpic", u"serialver"};
constexpr std::u16string_view kWriters[] = {
    u"gzip",     u"gunzip",    u"bzip2",     u"bunzip2",    u"bzip2recover", u"xz",      u"unxz",
    u"lzma",     u"unlzma",    u"lzcat",     u"xzcat",      u"lz4",       u"unlz4",      u"lz4c",
    u"lz4cat",   u"zstd",      u"unzstd",    u"zstdcat",    u"zstdmt",    u"pzstd",      u"pigz",
    u"unpigz",   u"pbzip2",    u"pixz",      u"lzip",       u"lunzip",    u"plzip",      u"lzop",
    u"brotli",   u"compress",  u"uncompress", u"7z",        u"7za",       u"7zr",        u"7zz",
    u"p7zip",    u"rar",       u"unrar",     u"unar",       u"bsdtar",    u"bsdcpio",    u"bsdunzip",
    u"atool",    u"dtrx",      u"arj",       u"unarj",      u"lha",       u"lhasa",      u"cabextract",
    u"zipcloak", u"zipnote",   u"zipsplit",  u"zipmerge",   u"unzipsfx",  u"funzip",     u"rpm2cpio",
    u"rpm2archive", u"sort",   u"shuf",      u"uniq",       u"csplit",    u"iconv",      u"uconv",
    u"xxd",      u"xmllint",   u"xmlcatalog", u"tic",       u"localedef", u"zic",        u"cjpeg",
    u"djpeg",    u"jpegtran",  u"jpegexiforient", u"exiftran", u"tjbench", u"pngfix",    u"optipng",
    u"pngcrush", u"qt-faststart", u"pdfseparate", u"pdfunite", u"pdftocairo", u"pdftoppm", u"pdftops",
    u"pdftotext", u"pdftohtml", u"pdfimages", u"pdfdetach", u"pdfattach", u"pdftk",     u"qpdf",
    u"split-file", u"lesskey",                u"mknod",      u"mkfifo",    u"fc-cache",   u"mkfontscale",
    u"mkfontdir", u"fonttosfnt", u"bdftopcf", u"bdftruncate", u"ucs2any",  u"utmpdump",   u"memusagestat",
    u"man-recode", u"mandb",   u"catman",    u"ldconfig",   u"iconvconfig", u"e2image",  u"e2label",
    u"e2undo",   u"e4crypt",   u"e4defrag",  u"swaplabel",  u"badblocks", u"blkzone",    u"mklost+found",
    u"dbus-uuidgen", u"dbus-cleanup-sockets", u"gpgsplit", u"keytool", u"jarsigner", u"jar", u"jmod",
    u"jimage",   u"osslsigncode", u"convert", u"magick",    u"mogrify",   u"montage",    u"gm",
    u"exiftool", u"exiv2",     u"mat2",      u"ar",         u"ranlib",    u"objcopy",    u"objdump",
    u"strip",    u"elfedit",   u"readelf",   u"size",       u"strings",   u"addr2line",  u"c++filt",
    u"dwp",      u"gprof",     u"lto-dump",  u"dsymutil",   u"yaml2obj",  u"obj2yaml",   u"yaml-bench",
    u"filecheck", u"count",    u"sancov",    u"sanstats",   u"verify-uselistorder", u"diagtool",
    u"modularize", u"find-all-symbols", u"pp-trace", u"wasm-ld", u"lld-link", u"ctags", u"etags",
    u"ctags-universal", u"readtags", u"cscope", u"derb",   u"genbrk",    u"gencfu",     u"gencnval",
    u"gendict",  u"gennorm2",  u"genrb",     u"gensprep",   u"gencmn",    u"genccode",   u"makeconv",
    u"escapesrc", u"gdk-pixbuf-csource", u"gdk-pixbuf-pixdata", u"gdk-pixbuf-thumbnailer",
    u"gdk-pixbuf-query-loaders", u"gresource", u"gobject-query", u"wayland-scanner", u"pkg-config",
    u"pkgconf",  u"h2pas",     u"h2paspp",   u"ppdep",      u"ptop",      u"plex",       u"pyacc",
    u"data2inc", u"bin2obj",   u"chmcmd",    u"chmls",      u"delp",      u"rmcvsdir",   u"postw32",
    u"rstconv",  u"relpath",   u"unitdiff",  u"makeskel",   u"fd2pascal", u"grab_vcsa",  u"cldrparser",
    u"unihelper", u"json2pas", u"webidl2pas", u"mka64ins",  u"mkarmins",  u"mkinsadd",   u"mkx86ins",
    u"fprcp",    u"f77",       u"f95",       u"rmt",        u"rmt-tar",   u"fpdoc",      u"xgettext",
    u"composite", u"compare",  u"stream",    u"link"};
constexpr std::u16string_view kSystem[] = {
    u"hostname", u"domainname", u"nisdomainname", u"ypdomainname", u"dnsdomainname", u"date", u"hwclock",
    u"ip",       u"tc",        u"bridge",    u"devlink",    u"dcb",       u"rdma",       u"tipc",
    u"vdpa",     u"genl",      u"arp",       u"rarp",       u"route",     u"ifconfig",   u"ipmaddr",
    u"iptunnel", u"nameif",    u"plipconfig", u"slattach",  u"mii-tool",  u"ethtool",    u"iw",
    u"iwconfig", u"nmcli",     u"rfkill",    u"arpd",       u"rtmon",     u"ldattach",   u"swapon",
    u"swapoff",  u"fsfreeze",  u"fstrim",    u"blockdev",   u"chcpu",     u"chmem",      u"zramctl",
    u"dmsetup",  u"dmstats",   u"wdctl",     u"pivot_root", u"sulogin",   u"getty",      u"login",
    u"renice",   u"snice",     u"ipcrm",     u"ipcmk",      u"fuser",     u"peekfd",     u"pldd",
    u"setxkbmap", u"xmodmap",  u"xset",      u"xrandr",     u"xinput",    u"wmctrl",     u"editres",
    u"xauth",    u"gsettings", u"dconf",     u"xdg-user-dirs-update", u"journalctl", u"hostnamectl",
    u"timedatectl", u"localectl", u"networkctl", u"resolvectl", u"homectl", u"userdbctl", u"portablectl",
    u"bootctl",  u"kernel-install", u"udevadm", u"dmesg",    u"passwd",    u"chfn",       u"chsh",
    u"chage",    u"gpasswd",   u"groupmems", u"grpck",      u"pwck",      u"grpconv",    u"grpunconv",
    u"pwconv",   u"pwunconv",  u"cppw",      u"cpgr",       u"expiry",    u"lastlog",    u"faillog",
    u"faillock", u"mkhomedir_helper", u"unix_chkpwd", u"unix_update", u"pwhistory_helper",
    u"pam_timestamp_check", u"xorg", u"x",    u"xwayland",   u"xvfb",      u"xephyr",     u"xnest",
    u"sshd",     u"postgres",  u"initdb",    u"pg_ctl",     u"rmiregistry", u"jstatd",    u"watchgnupg",
    u"anthoscli", u"kpt",      u"gke-gcloud-auth-plugin", u"gcloud", u"gsutil", u"ssh-keyscan", u"slogin",
    u"scalar",   u"systemd",   u"pkttyagent", u"pkaction",  u"pkcheck",   u"iptables",   u"ip6tables",
    u"nft",      u"ebtables",  u"arptables", u"ufw",        u"firewall-cmd", u"depmod",  u"kexec",
    u"efibootmgr", u"mokutil", u"setfont",   u"loadkeys",   u"kbdrate",   u"chvt",       u"openvt",
    u"deallocvt", u"setleds",  u"setupcon", u"appstreamcli", u"faked-sysv", u"faked-tcp", u"cbt", u"gdm-control"};

constexpr TRefusedFamily kFamilies[] = {
    {u"llvm-", u"the LLVM tools"},
    {u"clang-", u"the Clang tools"},
    {u"gnat", u"the GNAT tools"},
    {u"gcc-", u"the GCC tools"},
    {u"gcov", u"the coverage tools"},
    {u"gp-", u"the profiler's tools"},
    {u"fpc", u"the Free Pascal tools"},
    {u"pas2", u"the Free Pascal converters"},
    {u"ppu", u"the Free Pascal unit tools"},
    {u"java", u"Java's programs"},
    {u"icu", u"ICU's tools"},
    {u"xkb", u"the keyboard map tools"},
    {u"msg", u"gettext's catalogue tools"},
    {u"glib-", u"GLib's tools"},
    {u"gtk-", u"GTK's tools"},
    {u"gio-", u"GIO's tools"},
    {u"dpkg-", u"Debian's package tools"},
    {u"apt-", u"APT's tools"},
    {u"update-", u"the system's updaters"},
    {u"systemd-", u"the system manager's tools"},
    {u"git-", u"Git's programs"},
    {u"grub-", u"the boot loader's tools"},
    {u"qemu-", u"QEMU's machines and tools"},
    {u"lxc-", u"LXC's container tools"}};

constexpr std::u16string_view kMpvOptions[] = {
    u"--script",      u"--scripts",     u"--input-conf",  u"--include",      u"--config-dir",
    u"--use-filedir-conf", u"--stream-record", u"--record-file", u"--o",     u"--log-file",
    u"--dump-stats",  u"--screenshot-directory", u"--watch-later-directory", u"--input-ipc-server",
    u"--input-ipc-client"};
constexpr std::u16string_view kVlcOptions[] = {u"--extraintf", u"--intf", u"-I", u"--lua-intf", u"--lua-config",
                                               u"--sout",      u"--config", u"--plugin-path", u"--data-path",
                                               u"--snapshot-path", u"--http-host", u"--rc-host"};
constexpr std::u16string_view kMplayerOptions[] = {u"-input", u"-include", u"-dumpfile", u"-dumpstream", u"-o",
                                                   u"-profile"};
constexpr std::u16string_view kMpg123Options[] = {u"-w", u"--wav", u"--au", u"--cdr", u"--outfile", u"-O"};
constexpr std::u16string_view kFehOptions[] = {
    u"--action",  u"-A",        u"--action1", u"--action2", u"--action3", u"--action4", u"--action5",
    u"--action6", u"--action7", u"--action8", u"--action9", u"--info",    u"--customlist", u"-L",
    u"--output-dir", u"-j",    u"--output",  u"-O"};
constexpr std::u16string_view kGimpOptions[] = {u"-b", u"--batch", u"--batch-interpreter", u"--gimprc",
                                                u"--system-gimprc"};
constexpr std::u16string_view kInkscapeOptions[] = {u"--shell", u"--actions", u"--actions-file", u"--pipe"};
constexpr std::u16string_view kDisplayOptions[] = {u"-write", u"+write"};

constexpr TRefusedOptions kOptions[] = {
    {u"mpv", kMpvOptions},     {u"vlc", kVlcOptions},         {u"cvlc", kVlcOptions}, {u"qvlc", kVlcOptions},
    {u"nvlc", kVlcOptions},    {u"mplayer", kMplayerOptions}, {u"mencoder", kMplayerOptions},
    {u"mpg123", kMpg123Options}, {u"out123", kMpg123Options}, {u"feh", kFehOptions},   {u"gimp", kGimpOptions},
    {u"inkscape", kInkscapeOptions}, {u"display", kDisplayOptions}};

constexpr TRefusedCategory kCategories[] = {
    {u"shells", kShells},
    {u"interpreters, their debuggers and documentation readers", kInterpreters},
    {u"build tools and compilers", kBuildTools},
    {u"database shells", kDatabaseShells},
    {u"runners that start other programs", kRunners},
    {u"programs that run a command or load code an argument gives", kCommandArguments},
    {u"archivers and copiers given commands", kArchivers},
    {u"editors and pagers", kEditors},
    {u"terminals", kTerminals},
    {u"the desktop's openers and message buses", kOpeners},
    {u"privilege and accounts", kPrivilege},
    {u"deleting, overwriting, formatting and rights", kDeleting},
    {u"fetching, sending and remote shells", kNetwork},
    {u"processes, power and scheduling", kProcesses},
    {u"the system's own command words", kRefused},
    {u"programs whose options run a program, a shell line or code, or load a library", kOptionsRun, false},
    {u"programs that write or replace the files they are given (compressors and archivers, converters, "
     u"signers, sorters and tools with an output file, the tool chains' binary tools)",
     kWriters, false},
    {u"programs that change the system, its network, devices, accounts or settings, or serve", kSystem, false}};

// Starters the word check looks through to the program they start; the
// planner refuses them as runners when they really start.
constexpr std::u16string_view kLookedThrough[] = {u"timeout", u"nice", u"ionice", u"xargs",
                                                  u"stdbuf",  u"time", u"taskset", u"chrt"};

// Whether a word is a refused name; as a command's first word only of the
// categories refused so.
bool Listed(std::u16string_view word, bool asCommandWord = false) {
  for (const TRefusedCategory& category : kCategories)
    if ((category.ByCommandWord || !asCommandWord) &&
        std::find(category.Members.begin(), category.Members.end(), word) != category.Members.end())
      return true;
  if (asCommandWord) return false;
  // "gcov" is of its family, "llvm-" alone is no name.
  for (const TRefusedFamily& family : kFamilies)
    if (word.substr(0, family.Prefix.size()) == family.Prefix &&
        (word.size() > family.Prefix.size() || family.Prefix.back() != u'-'))
      return true;
  return false;
}

bool LookedThrough(std::u16string_view word) {
  return std::find(std::begin(kLookedThrough), std::end(kLookedThrough), word) != std::end(kLookedThrough);
}

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

WideString WithoutChar(const WideString& s, char16_t c) {
  WideString r;
  for (char16_t x : s)
    if (x != c) r += x;
  return r;
}

bool IsHighHalf(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowHalf(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// The command with blanks and tabs inside double quotes made "_", and "@",
// quotes and "|" dropped.
WideString Normalised(const WideString& command) {
  WideString s = command;
  bool quoted = false;
  for (char16_t& c : s) {
    if (c == u'"')
      quoted = !quoted;
    else if (quoted && IsBlank(c))
      c = u'_';
  }
  return WithoutChar(WithoutChar(WithoutChar(s, u'@'), u'"'), u'|');
}

// A word lower-cased (A to Z), without its folder and from its first "." on.
WideString ProgramName(WideString word) {
  for (char16_t& c : word)
    if (c >= u'A' && c <= u'Z') c = char16_t(c + 32);
  std::size_t slash = word.find_last_of(u'\\');
  if (slash != WideString::npos) word.erase(0, slash + 1);
  slash = word.find_last_of(u'/');
  if (slash != WideString::npos) word.erase(0, slash + 1);
  std::size_t dot = word.find(u'.');
  if (dot != WideString::npos) word.erase(dot);
  return word;
}

// Debian's names of ImageMagick's programs ("convert-im6.q16" is
// "convert-im6" by ProgramName, "mogrify-im7"): the program's own name.
WideString WithoutImageMagickSuffix(const WideString& name) {
  const std::size_t im = name.rfind(u"-im");
  if (im != WideString::npos && im > 0 && im + 3 < name.size() &&
      std::all_of(name.begin() + std::ptrdiff_t(im) + 3, name.end(), [](char16_t c) { return c >= u'0' && c <= u'9'; }))
    return name.substr(0, im);
  return name;
}

// The words of a normalised command, each as ProgramName makes it.
std::vector<WideString> ProgramNames(const WideString& normalised) {
  std::vector<WideString> words;
  std::size_t a = 0;
  while (a < normalised.size()) {
    while (a < normalised.size() && IsBlank(normalised[a])) ++a;
    std::size_t b = a;
    while (b < normalised.size() && !IsBlank(normalised[b])) ++b;
    if (b > a) words.push_back(ProgramName(normalised.substr(a, b - a)));
    a = b;
  }
  return words;
}

}  // namespace

WideString CommandWord(const WideString& command) {
  if (command.find(u'>') != WideString::npos) return u">";
  const WideString s = Normalised(command);
  std::size_t a = 0;
  while (a < s.size() && IsBlank(s[a])) ++a;
  std::size_t b = a;
  while (b < s.size() && !IsBlank(s[b])) ++b;
  return ProgramName(s.substr(a, b - a));
}

bool IsAllowedCommand(const WideString& commandLine) {
  const WideString word = CommandWord(commandLine);
  if (!LookedThrough(word)) return !Listed(word, true);
  // Which later word is the program depends on the starter's options; none
  // of them may be a refused one.
  const std::vector<WideString> words = ProgramNames(Normalised(commandLine));
  return words.empty() ||
         std::none_of(words.begin() + 1, words.end(), [](const WideString& w) { return Listed(w, true); });
}

std::span<const TRefusedCategory> RefusedCategories() { return kCategories; }

std::span<const TRefusedFamily> RefusedFamilies() { return kFamilies; }

std::span<const TRefusedOptions> RefusedOptions() { return kOptions; }

bool IsRefusedProgramName(const WideString& fileName) {
  WideString name = ProgramName(fileName);
  if (name.empty()) return false;
  if (Listed(name)) return true;
  // The dynamic loader runs any file it is given ("ld-linux-x86-64.so.2").
  if (name.size() > 3 && name.compare(0, 3, u"ld-") == 0) return true;
  if (const WideString own = WithoutImageMagickSuffix(name); own != name && Listed(own)) return true;
  // A version after a "-" ("postw32-3.2.2"): the name before it.
  if (const std::size_t dash = name.rfind(u'-');
      dash != WideString::npos && dash > 0 && dash + 1 < name.size() &&
      std::all_of(name.begin() + std::ptrdiff_t(dash) + 1, name.end(), [](char16_t c) { return c >= u'0' && c <= u'9'; }) &&
      Listed(std::u16string_view(name).substr(0, dash)))
    return true;
  // A version at the end: "python3", "perl5", "tclsh8".
  while (!name.empty() && ((name.back() >= u'0' && name.back() <= u'9') || name.back() == u'-' || name.back() == u'_'))
    name.pop_back();
  if (name.empty()) return false;
  if (Listed(name)) return true;
  // A tool of a cross tool chain: "x86_64-linux-gnu-gcc-12", "arm-none-eabi-ld",
  // "x86_64-linux-gnu-gp-collect-app": any name after the target's three parts.
  int dashes = 0;
  for (std::size_t i = 0; i < name.size(); ++i)
    if (name[i] == u'-' && ++dashes >= 3 && Listed(std::u16string_view(name).substr(i + 1))) return true;
  return false;
}

namespace {

WideString FileNameOf(const std::string& path) {
  const std::size_t cut = path.rfind('/');
  return plat::FromUtf8(cut == std::string::npos ? path : path.substr(cut + 1));
}

// Whether Word, an argument, names a refused program that a starter
// ("timeout", "unshare", the dynamic loader ...) would run.
bool NamesRefusedProgram(const std::string& word, const std::string& dir) {
  // Longer than a file name can be: no program's.
  if (word.empty() || word.size() > 4096 || (word.find('/') == std::string::npos && word.size() > 255)) return false;
  const std::string real = plat::FindProgram(word, dir);
  if (real.empty()) return false;
  return IsRefusedProgramName(FileNameOf(word)) || IsRefusedProgramName(FileNameOf(real));
}

// The names the desktop opens by running or installing what the file
// holds: launchers, programs and installers of this system and of Windows,
// packages, scripts of every shell and interpreter, office documents with
// macros, Java, shell links and links to the web, registry files.
constexpr std::u16string_view kRunningNames[] = {
    // Windows programs, scripts, links, installers and settings.
    u".bat", u".cmd", u".com", u".exe", u".scr", u".pif", u".cpl", u".msi", u".msp", u".mst", u".msc", u".lnk",
    u".url", u".vbs", u".vbe", u".vb", u".vba", u".js", u".jse", u".wsf", u".wsh", u".wsc", u".sct", u".hta",
    u".ps1", u".psm1", u".psd1", u".reg", u".inf", u".ins", u".isp", u".chm", u".hlp", u".gadget", u".application",
    u".appref-ms", u".settingcontent-ms", u".diagcab", u".xbap", u".ahk", u".au3", u".dll", u".ocx", u".sys",
    u".msix", u".msixbundle", u".appx", u".appxbundle", u".appinstaller",
    // Launchers, programs and packages here and on other systems.
    u".desktop", u".kdelnk", u".appimage", u".run", u".bin", u".elf", u".so", u".deb", u".udeb", u".ddeb", u".rpm",
    u".drpm", u".snap", u".flatpak", u".flatpakref", u".flatpakrepo", u".apk", u".xpi", u".crx", u".vsix",
    u".pkg", u".mpkg", u".dmg", u".command", u".tool", u".workflow", u".action", u".applescript", u".scpt",
    u".scptd", u".app",
    // Scripts of shells and interpreters.
    u".sh", u".bash", u".zsh", u".ksh", u".csh", u".tcsh", u".fish", u".ash", u".dash", u".py", u".pyw", u".pyz",
    u".pyzw", u".pyc", u".pyo", u".pl", u".pm", u".plx", u".cgi", u".rb", u".rbw", u".php", u".phar", u".lua",
    u".tcl", u".tk", u".exp", u".awk", u".r", u".rscript", u".jl", u".scm", u".ss", u".rkt", u".el", u".hs",
    u".groovy", u".gvy", u".kts", u".scala", u".clj", u".erl", u".escript", u".exs", u".nu", u".mjs",
    u".cjs", u".jsh", u".bsh", u".ijs", u".rexx", u".rex", u".pas", u".ml",
    // Java.
    u".jar", u".jnlp", u".class",
    // Office documents with macros, and add-ins.
    u".docm", u".dotm", u".xlsm", u".xltm", u".xlam", u".xlsb", u".xla", u".xll", u".xlm", u".pptm", u".potm",
    u".ppam", u".ppsm", u".sldm", u".wll", u".mdb", u".mde", u".accdb", u".accde", u".accdr", u".ade", u".adp",
    u".odb", u".oxt"};

// A file's name as the desktop takes it: blanks, dots and what shows
// nothing at its end dropped, its letter case folded.
WideString DesktopName(const WideString& name) {
  std::size_t end = name.size();
  while (end > 0) {
    char32_t c = name[end - 1];
    std::size_t n = 1;
    if (end >= 2 && IsLowHalf(name[end - 1]) && IsHighHalf(name[end - 2])) {
      c = 0x10000 + ((char32_t(name[end - 2]) - 0xD800) << 10) + (char32_t(name[end - 1]) - 0xDC00);
      n = 2;
    }
    if (c != u'.' && !plat::ShowsNothing(c)) break;
    end -= n;
  }
  return plat::FoldCase(std::u16string_view(name).substr(0, end));
}

// Whether the desktop takes a file of this name for one that runs or
// installs what it holds.
bool RunningName(const WideString& fileName) {
  const WideString name = DesktopName(fileName);
  for (const std::u16string_view ending : kRunningNames)
    if (name.size() >= ending.size() && std::u16string_view(name).substr(name.size() - ending.size()) == ending)
      return true;
  return false;
}

// Whether a file, by its content, runs or installs what it holds when the
// desktop, or a program that opens documents, opens it; a device, pipe or
// socket too for the desktop, which may never end reading it.
bool RunsByContent(const std::string& path, bool specialToo = true) {
  switch (plat::FileContentOf(path)) {
    case plat::TFileContent::Missing:
    case plat::TFileContent::Folder:
    case plat::TFileContent::Data: return false;
    case plat::TFileContent::Special: return specialToo;
    default: return true;
  }
}

// Whether the desktop's opener, handed this file, would run something: by
// its name (as linked or as found), or by its content (a launcher, a
// program or script of either system, a Java archive, a shell link, a
// compound file, an office document with macros, a package), whatever its
// name.
bool OpenerWouldRun(const std::string& path) {
  for (const std::string& p : {path, plat::RealPath(path)})
    if (RunningName(FileNameOf(p))) return true;
  return RunsByContent(path);
}

// A response file: "@name" where name is a file the program would read its
// further arguments (and options that run commands) from.
bool NamesResponseFile(const std::string& arg, const std::string& dir) {
  if (arg.size() < 2 || arg[0] != '@' || arg.size() > 4096) return false;
  return plat::FileContentOf(plat::PathInFolder(arg.substr(1), dir)) != plat::TFileContent::Missing;
}

// Shell expansions and command syntax: what a program that hands an
// argument to a shell, or opens "|command" as a file, would run.
bool CarriesCommand(const std::string& arg) {
  if (arg.find("${") != std::string::npos || arg.find("$(") != std::string::npos ||
      arg.find('`') != std::string::npos)
    return true;
  std::string lower = arg;
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = char(c + 32);
  if (lower.find("%pipe%") != std::string::npos) return true;
  // Links an office suite runs as a macro or a script.
  if (lower.rfind("macro:", 0) == 0 || lower.rfind("vnd.sun.star.script:", 0) == 0) return true;
  // "|command" as the argument or as an option's value ("-sOutputFile=|...").
  for (std::size_t p = 0; p < arg.size(); p = arg.find('=', p) == std::string::npos ? arg.size() : arg.find('=', p) + 1)
    if (arg[p] == '|') return true;
  return false;
}

// Whether an argument names code: a file that is a program, a script or a
// shared library by its first bytes (ELF, "#!"), taken where the program
// runs. Looked at are the argument whole, each piece of it between the
// signs that programs split values at ("=", ":", ",", ";", brackets,
// quotes, "|", blanks) and what follows each such sign (a path may hold
// them), the value glued to a short option ("-D/path", "-vD./path"), and
// each of these with ".so" added, as programs add it to a plug-in's name.
// The argument is judged whole, however long.
bool NamesCode(const std::string& arg, const std::string& dir) {
  if (arg.empty()) return false;
  std::set<std::string> seen;
  const auto code = [&](std::string_view candidate) {
    if (candidate.empty() || candidate.size() >= 4096) return false;
    std::string path(candidate);
    if (!seen.insert(path).second) return false;
    path = plat::PathInFolder(path, dir);
    return plat::StartsAsCode(path) || plat::StartsAsCode(path + ".so");
  };
  const std::string_view whole = arg;
  std::vector<std::string_view> roots{whole};
  if (whole.size() > 2 && whole[0] == '-' && whole[1] != '-')
    for (std::size_t k = 2; k < whole.size() && k <= 9 && std::isalnum(static_cast<unsigned char>(whole[k - 1])); ++k)
      roots.push_back(whole.substr(k));
  constexpr std::string_view kSigns = "=:,;[]()|'\" \t";
  for (const std::string_view root : roots) {
    if (code(root)) return true;
    std::size_t from = 0;
    for (std::size_t at = root.find_first_of(kSigns); at != std::string_view::npos;
         from = at + 1, at = root.find_first_of(kSigns, from)) {
      if (code(root.substr(from, at - from))) return true;
      if (root.size() - at - 1 < 4096 && code(root.substr(at + 1))) return true;
    }
    if (from > 0 && code(root.substr(from))) return true;
  }
  return false;
}

// Whether Arg is one of the options Program is refused with.
bool RefusedOptionOf(const WideString& program, const std::string& arg) {
  // ImageMagick's options begin with "+" too.
  if (arg.size() < 2 || (arg[0] != '-' && arg[0] != '+')) return false;
  const WideString name = WithoutImageMagickSuffix(ProgramName(program));
  const WideString option = plat::FromUtf8(arg);
  for (const TRefusedOptions& refused : kOptions) {
    if (refused.Program != name) continue;
    for (const std::u16string_view o : refused.Options) {
      const std::u16string_view given(option);
      if (given == o || (given.size() > o.size() && given.substr(0, o.size()) == o &&
                         (given[o.size()] == u'=' || (o.size() == 2 && o[1] != u'-'))))
        return true;
    }
  }
  return false;
}

// The characters a shell gives a meaning.
constexpr std::string_view kShellCharacters = " \t\n\r\v\f;&|<>()`$\\\"'";

// The words of an option's value that holds blanks or a shell's characters,
// split as a shell splits a line (at blanks and ";", "&", "|", "<", ">",
// brackets and backquotes, quotes and backslashes dropped): the whole
// option, its value after a "=", and the value glued to a one-letter
// option ("-e<line>", "-vD<line>"). Empty when none holds any, and for an
// argument that is no option (plain text to the program).
std::vector<std::string> ShellWordsOfValues(const std::string& arg) {
  if (arg.size() < 2 || arg[0] != '-') return {};
  std::vector<std::string_view> values{arg};
  const std::size_t equals = arg.find('=');
  if (equals != std::string::npos) values.push_back(std::string_view(arg).substr(equals + 1));
  if (arg.size() > 2 && arg[0] == '-' && arg[1] != '-')
    for (std::size_t k = 2; k < arg.size() && k <= 9 && std::isalnum(static_cast<unsigned char>(arg[k - 1])); ++k)
      values.push_back(std::string_view(arg).substr(k));
  std::vector<std::string> words;
  for (const std::string_view value : values) {
    if (value.find_first_of(kShellCharacters) == std::string_view::npos) continue;
    std::string word;
    const auto end = [&] {
      if (!word.empty()) words.push_back(std::exchange(word, {}));
    };
    for (const char c : value) {
      if (c == '"' || c == '\'' || c == '\\') continue;
      if (std::string_view(" \t\n\r\v\f;&|<>()`").find(c) != std::string_view::npos) end();
      else word += c;
    }
    end();
  }
  return words;
}

bool RefusedStart(const plat::TShellStart& start) {
  using TKind = plat::TShellStart::TKind;
  // The desktop's opener is a program too: the link or the path is its argument.
  if (start.Kind == TKind::Document) return CarriesCommand(start.Target) || OpenerWouldRun(start.Target);
  if (start.Kind == TKind::Link) {
    if (CarriesCommand(start.Target)) return true;
    for (const std::string& file : plat::FilesOfLink(start.Target))
      if (OpenerWouldRun(file)) return true;
    return false;
  }
  if (start.Kind != TKind::Program) return false;
  // Judged by what the plan opened: the files that really run.
  const plat::TRealRun& run = start.Run;
  if (!run.Known) return true;
  for (const std::string& p : run.Programs)
    if (IsRefusedProgramName(FileNameOf(p))) return true;
  // An option the program runs a shell line or code with, or writes with.
  for (const std::string& p : run.Programs)
    for (const std::string& a : run.Args)
      if (RefusedOptionOf(FileNameOf(p), a)) return true;
  // Every argument that carries a command, names code or a document that
  // runs what it holds, or is itself a program, also after a "="
  // ("--rsh=..."); and each word of an option's value that holds blanks or
  // a shell's characters, as a program may hand it to a shell.
  std::set<std::string> seen;
  for (const std::string& a : run.Args) {
    if (CarriesCommand(a) || NamesCode(a, start.Dir) || NamesResponseFile(a, start.Dir)) return true;
    for (const std::string& word : {a, a.substr(a.rfind('=') == std::string::npos ? a.size() : a.rfind('=') + 1)})
      if (seen.insert(word).second &&
          (NamesRefusedProgram(word, start.Dir) || (!word.empty() && RunsByContent(plat::PathInFolder(word, start.Dir), false))))
        return true;
    for (const std::string& word : ShellWordsOfValues(a))
      if (seen.insert(word).second &&
          (CarriesCommand(word) || NamesCode(word, start.Dir) || NamesRefusedProgram(word, start.Dir)))
        return true;
  }
  return false;
}

}  // namespace

bool StartsRefusedProgram(const WideString& command, const WideString& folder) {
  return RefusedStart(PlanCommand(command, folder));
}

bool IsRefusedStart(const plat::TShellStart& start) { return RefusedStart(start); }

}  // namespace oru
