#!/usr/bin/env bash
# Fails when a library exports anything outside its public families, misses one of them, or
# exports an STB_GNU_UNIQUE symbol (which keeps the library mapped after dlclose).
# Usage: scripts/check-exported-symbols.sh path/to/libLumoProject.so path/to/libVantorPlatform.so
set -euo pipefail
[ $# -gt 0 ] || { echo "usage: $0 LIBRARY..." >&2; exit 2; }

# Both libraries may export type information, virtual tables and thunks of what they export.
companions='((typeinfo|typeinfo name|vtable|VTT|guard variable) for |(non-)?virtual thunk to )?'

lumo_rules() {
  local classes='FolderProject|MediaContainerProject|ProjectManager|IProjectManager|IProject(::(Exception|ProjectAlreadyExistsException|CanNotCreateDirForProjectException|CanNotCreateProjectFileException))?'
  allowed="^${companions}Vantor::Lumo::($classes)(::|\$)"
  allowed+="|^Vantor::Lumo::(GenerateProjectPath|GetDefaultProjectExtension|GetDefaultProjectName|GetLibraryVersion)[[(]"
  allowed+="|^Vantor::Lumoreel::FormatFile::(GetStreamInfo|StreamInfoToString)[[(]"
  required=(
    'Vantor::Lumo::FolderProject::CreateProject(' 'Vantor::Lumo::FolderProject::OpenProject('
    'Vantor::Lumo::FolderProject::FolderProject(Vantor::Lumo::FolderProject const&)'
    'Vantor::Lumo::FolderProject::operator=(' 'Vantor::Lumo::FolderProject::~FolderProject()'
    'Vantor::Lumo::MediaContainerProject::CreateProject(' 'Vantor::Lumo::MediaContainerProject::OpenProject('
    'Vantor::Lumo::MediaContainerProject::~MediaContainerProject()'
    'Vantor::Lumo::ProjectManager::ProjectManager(' 'Vantor::Lumo::ProjectManager::~ProjectManager()'
    'Vantor::Lumo::GenerateProjectPath(Vantor::ioPath const&)'
    'Vantor::Lumo::GenerateProjectPath(Vantor::ioPath const&, std::'
    'Vantor::Lumo::GetDefaultProjectExtension' 'Vantor::Lumo::GetDefaultProjectName'
    'Vantor::Lumo::GetLibraryVersion()'
    'vtable for Vantor::Lumo::FolderProject' 'vtable for Vantor::Lumo::MediaContainerProject'
    'vtable for Vantor::Lumo::ProjectManager'
    'typeinfo for Vantor::Lumo::IProject::ProjectAlreadyExistsException'
    'typeinfo for Vantor::Lumo::IProject::CanNotCreateDirForProjectException'
    'typeinfo for Vantor::Lumo::IProject::CanNotCreateProjectFileException'
  )
  local kind operation
  for kind in FolderProject MediaContainerProject; do
    for operation in 'GetInfo() const' 'GetPath() const' 'GetSize() const' 'Remove(' 'AddStream('; do
      required+=("Vantor::Lumo::$kind::$operation")
    done
  done
  for operation in GetVideoProjectExtensions GetImageProjectExtensions IsVideoProject IsImageProject \
                   CreateProject LoadProject RemoveCurrentProject GetCurrentProject Reset; do
    required+=("Vantor::Lumo::ProjectManager::$operation")
  done
}

# The platform layer exports its whole namespace, and nothing of std:: or boost::.
platform_rules() {
  allowed="^${companions}Vantor::"
  required=(
    'Vantor::ioPath::ioPath(' 'Vantor::ioPath::utf8string' 'Vantor::ioPath::create_directories('
    'Vantor::operator==(Vantor::ioPath const&' 'Vantor::GetCallStack'
    'Vantor::Exception::Exception(' 'typeinfo for Vantor::Exception' 'vtable for Vantor::Exception'
    'Vantor::Util::VersionFromString(' 'Vantor::Util::VersionToString(' 'Vantor::Util::ShrinkVersion('
    'Vantor::Core::operator==(Vantor::Core::Version const&'
    'Vantor::intrusive_ptr_add_ref(' 'Vantor::intrusive_ptr_release('
    'typeinfo for Vantor::RefCounted' 'vtable for Vantor::RefCounted'
    'Vantor::Core::MoveToTrash(' 'Vantor::Core::RemoveDir('
    'Vantor::Util::GetPathSize(' 'Vantor::Util::CanCreateFileIn('
    'Vantor::Lumo::GetNextAvaliableIndex(' 'Vantor::Lumo::CreateStreamReader('
    'Vantor::Lumo::SetStreamReaderFactory(' 'Vantor::Proc::RouteFfmpegLogToGlog('
    'typeinfo for Vantor::Proc::IStreamReader' 'typeinfo for Vantor::Proc::IStream'
    'typeinfo for Vantor::Conf::IFormatFile' 'typeinfo for Vantor::Lumo::IFileManager'
    'vtable for Vantor::Lumo::LocalFileManager'
  )
}

failed=0
for library in "$@"; do
  name=$(basename "$library")
  case "$name" in
    libLumoProject.so*) lumo_rules ;;
    libVantorPlatform.so*) platform_rules ;;
    *) echo "no export rules for $name" >&2; exit 2 ;;
  esac
  status=0
  symbols=$(nm -D --defined-only -C "$library" | cut -d' ' -f3- | sort -u)

  unexpected=$(grep -vE "$allowed" <<<"$symbols" || true)
  if [ -n "$unexpected" ]; then
    echo "$name: exported outside the public families:" >&2
    sed 's/^/  /' <<<"$unexpected" >&2
    status=1
  fi
  foreign=$(grep -E "^${companions}(std|boost)::" <<<"$symbols" || true)
  if [ -n "$foreign" ]; then
    echo "$name: exports $(wc -l <<<"$foreign") symbols of std:: or boost::" >&2
    status=1
  fi
  unique=$(readelf --dyn-syms --wide "$library" | awk '$5 == "UNIQUE" && $7 != "UND" {print $8}')
  if [ -n "$unique" ]; then
    echo "$name: STB_GNU_UNIQUE symbols, which keep it mapped after dlclose:" >&2
    c++filt <<<"$unique" | sed 's/^/  /' >&2
    status=1
  fi
  for symbol in "${required[@]}"; do
    if ! grep -qF -- "$symbol" <<<"$symbols"; then
      echo "$name: missing export: $symbol" >&2
      status=1
    fi
  done

  if [ $status -eq 0 ]; then
    echo "exported symbols of $name: $(wc -l <<<"$symbols"), all public, none unique"
  fi
  failed=$((failed | status))
done
exit $failed
