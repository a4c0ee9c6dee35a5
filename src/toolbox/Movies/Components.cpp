// SPDX-License-Identifier: GPL-2.0-or-later
// The component table: which type and subtype open which implementation.
// Opening creates a fresh instance; closing destroys it.
#include "toolbox/Movies/Components.h"

#include "toolbox/Core/MacErrors.h"

namespace {
struct ComponentRow {
  OSType type;
  OSType subType;
  ComponentInstance (*make)();
};

const ComponentRow kComponents[] = {
    {MovieImportType, kQTFileTypeWave, &NewWaveMovieImporter},
    {GraphicsImporterComponentType, kQTFileTypeJPEG, &NewJpegGraphicsImporter},
    {GraphicsExporterComponentType, kQTFileTypeJPEG, &NewJpegGraphicsExporter},
};
}  // namespace

ComponentInstance OpenDefaultComponent(OSType componentType, OSType componentSubType) {
  for (const ComponentRow& row : kComponents) {
    if (row.type == componentType && row.subType == componentSubType) {
      ComponentInstance ci = row.make();
      if (ci) {
        ci->componentType = componentType;
        ci->componentSubType = componentSubType;
      }
      return ci;
    }
  }
  return nullptr;
}

OSErr OpenADefaultComponent(OSType componentType, OSType componentSubType, ComponentInstance* ci) {
  if (ci == nullptr) return paramErr;
  *ci = OpenDefaultComponent(componentType, componentSubType);
  return *ci ? noErr : cantFindHandler;
}

OSErr CloseComponent(ComponentInstance ci) {
  if (ci == nullptr) return paramErr;
  delete ci;
  return noErr;
}
