#!/usr/bin/env bash
# Fails when libLumoProject.so exports anything outside its public families, or misses one.
# Usage: scripts/check-exported-symbols.sh path/to/libLumoProject.so
set -euo pipefail
library=${1:?usage: $0 path/to/libLumoProject.so}

symbols=$(nm -D --defined-only -C "$library" | cut -d' ' -f3- | sort -u)

classes='FolderProject|MediaContainerProject|ProjectManager|IProjectManager|IProject(::(Exception|ProjectAlreadyExistsException|CanNotCreateDirForProjectException|CanNotCreateProjectFileException))?'
allowed="^((typeinfo|typeinfo name|vtable|VTT) for |(non-)?virtual thunk to )?Vantor::Lumo::($classes)(::|\$)"
allowed+="|^Vantor::Lumo::(GenerateProjectPath|GetDefaultProjectExtension|GetDefaultProjectName)[[(]"
allowed+="|^Vantor::Lumoreel::FormatFile::(GetStreamInfo|StreamInfoToString)[[(]"

status=0
unexpected=$(grep -vE "$allowed" <<<"$symbols" || true)
if [ -n "$unexpected" ]; then
  echo "exported outside the public families:" >&2
  sed 's/^/  /' <<<"$unexpected" >&2
  status=1
fi

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
  'vtable for Vantor::Lumo::FolderProject' 'vtable for Vantor::Lumo::MediaContainerProject'
  'vtable for Vantor::Lumo::ProjectManager'
  'typeinfo for Vantor::Lumo::IProject::ProjectAlreadyExistsException'
  'typeinfo for Vantor::Lumo::IProject::CanNotCreateDirForProjectException'
  'typeinfo for Vantor::Lumo::IProject::CanNotCreateProjectFileException'
)
for kind in FolderProject MediaContainerProject; do
  for operation in 'GetInfo() const' 'GetPath() const' 'GetSize() const' 'Remove(' 'AddStream('; do
    required+=("Vantor::Lumo::$kind::$operation")
  done
done
for operation in GetVideoProjectExtensions GetImageProjectExtensions IsVideoProject IsImageProject \
                 CreateProject LoadProject RemoveCurrentProject GetCurrentProject Reset; do
  required+=("Vantor::Lumo::ProjectManager::$operation")
done
for symbol in "${required[@]}"; do
  if ! grep -qF -- "$symbol" <<<"$symbols"; then
    echo "missing export: $symbol" >&2
    status=1
  fi
done

[ $status -eq 0 ] && echo "exported symbols of $(basename "$library"): $(wc -l <<<"$symbols"), all public"
exit $status
