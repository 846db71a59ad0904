# A sample release of the application as a publisher puts it on the update server. Sourced.
#
#   make_sample_release ROOT MAKE_MANIFEST VERSION
#   installer_runs INSTALLATION, application_runs INSTALLATION
#
# writes ROOT/qor_app/: the application's files below App/ (nested folders, a few dozen files, about
# 9 MiB, a name with a blank and an empty file among them), GameManifest.xml made by MAKE_MANIFEST,
# and ReleaseNotes.xml for VERSION. The contents are the same on every call with the same VERSION;
# a new VERSION changes two files. The two programs that the updater starts are shell scripts that
# leave a line in App/Saved/ below the folder they are started in:
#   App/Engine/Extras/Redist/en-us/UE4PrereqSetup_x64.exe  ->  App/Saved/PrereqSetup.log
#   App/QOR.exe                                             ->  App/Saved/QOR.log
# installer_runs and application_runs print how often each has run in an installation.

SAMPLE_INSTALLER=App/Engine/Extras/Redist/en-us/UE4PrereqSetup_x64.exe
SAMPLE_APPLICATION=App/QOR.exe
SAMPLE_INSTALLER_LOG=App/Saved/PrereqSetup.log
SAMPLE_APPLICATION_LOG=App/Saved/QOR.log

# Size in bytes, seed and path of every data file. The bytes come from a cipher stream keyed by the
# seed: they look random and are the same on every call.
_sample_release_files() {
    local version=$1
    cat <<FILES
  31232 ogg              App/Engine/Binaries/ThirdParty/Ogg/Win64/libogg_64.dll
 161792 vorbis           App/Engine/Binaries/ThirdParty/Vorbis/Win64/libvorbis_64.dll
 312320 apex             App/Engine/Binaries/Win64/APEX_Clothing_x64.dll
 618496 physx            App/Engine/Binaries/Win64/PhysX3_x64.dll
 418304 d3d              App/Engine/Binaries/Win64/d3dcompiler_47.dll
  40960 nvtx             App/Engine/Binaries/Win64/nvToolsExt64_1.dll
 204800 tbb              App/Engine/Binaries/Win64/tbbmalloc.dll
   8192 engine           App/Engine/Config/BaseEngine.ini
   4096 input            App/Engine/Config/BaseInput.ini
      0 empty            App/Engine/Config/Empty.ini
 162588 roboto-bold      App/Engine/Content/Slate/Fonts/Roboto-Bold.ttf
 145348 roboto           App/Engine/Content/Slate/Fonts/Roboto-Regular.ttf
 524288 icu              App/Engine/Content/Internationalization/icudt64l.dat
2097152 shipping         App/QOR/Binaries/Win64/QOR-Win64-Shipping.exe
   2048 default-engine   App/QOR/Config/DefaultEngine.ini
   1024 game-$version    App/QOR/Config/DefaultGame.ini
  18432 de               App/QOR/Content/Localization/Game/de/Game.locres
  16384 en               App/QOR/Content/Localization/Game/en/Game.locres
  18944 fr               App/QOR/Content/Localization/Game/fr/Game.locres
  12288 zh               App/QOR/Content/Localization/Game/zh-Hans/Game.locres
1048576 intro            App/QOR/Content/Movies/Intro Movie.mp4
3145728 pak              App/QOR/Content/Paks/QOR-WindowsNoEditor.pak
 524288 patch-$version   App/QOR/Content/Paks/QOR-WindowsNoEditor_0_P.pak
  65536 splash           App/QOR/Content/Splash/Splash.bmp
   1536 uproject         App/QOR/QOR.uproject
   6144 licenses         App/Manual/Licenses.txt
   3072 readme           App/Manual/Readme.txt
FILES
}

make_sample_release() {
    local root=$1 make_manifest=$2 version=$3
    local release=$root/qor_app
    rm -rf "$release"
    mkdir -p "$release"

    local size seed path
    while read -r size seed path; do
        mkdir -p "$(dirname "$release/$path")"
        head -c "$size" /dev/zero \
            | openssl enc -aes-128-ctr -nosalt -pbkdf2 -pass "pass:$seed" > "$release/$path"
    done < <(_sample_release_files "$version")
    _write_sample_programs "$release"

    # The manifest leaves out the documents at the top, so the notes may join before or after it.
    "$make_manifest" "$release" -o "$release/GameManifest.xml"
    cat > "$release/ReleaseNotes.xml" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<ReleaseNotes>
    <Version>$version</Version>
    <Date>$(date +%d%m%y)</Date>
    <Notes>*QOR $version*
_New:_ the sample release of the updater's demo.
Every file is checked by its MD5 digest; what is missing or different is fetched again.
!Press 启动 when the bar is full.!</Notes>
</ReleaseNotes>
XML
}

_write_sample_programs() {
    local release=$1
    mkdir -p "$release/$(dirname "$SAMPLE_INSTALLER")"
    cat > "$release/$SAMPLE_INSTALLER" <<SCRIPT
#!/bin/sh
# Stands in for the engine's prerequisites installer.
mkdir -p App/Saved
echo "prerequisites installed \$(date '+%F %T')" >> $SAMPLE_INSTALLER_LOG
echo "UE4PrereqSetup_x64.exe: prerequisites installed"
SCRIPT
    cat > "$release/$SAMPLE_APPLICATION" <<SCRIPT
#!/bin/sh
# Stands in for the application.
mkdir -p App/Saved
echo "QOR started \$(date '+%F %T')" >> $SAMPLE_APPLICATION_LOG
echo "QOR.exe: started in \$(pwd)"
SCRIPT
}

_line_count() {
    if [ -f "$1" ]; then wc -l < "$1"; else echo 0; fi
}

installer_runs() {
    _line_count "$1/$SAMPLE_INSTALLER_LOG"
}

application_runs() {
    _line_count "$1/$SAMPLE_APPLICATION_LOG"
}
