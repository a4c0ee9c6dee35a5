// SPDX-License-Identifier: GPL-2.0-or-later
// Components: importers and exporters opened by type and subtype, closed by their owner.
// Each kind of component derives from ComponentInstanceRecord; the table in Components.cpp lists them.
#pragma once
#include "toolbox/Core/MacTypes.h"

struct ComponentInstanceRecord {
  OSType componentType = 0;
  OSType componentSubType = 0;
  virtual ~ComponentInstanceRecord() = default;
};
using ComponentInstance = ComponentInstanceRecord*;
using Component = ComponentInstanceRecord*;

constexpr OSType MovieImportType = FOUR_CHAR_CODE("eat ");
constexpr OSType GraphicsImporterComponentType = FOUR_CHAR_CODE("grip");
constexpr OSType GraphicsExporterComponentType = FOUR_CHAR_CODE("grex");
constexpr OSType MovieExportType = FOUR_CHAR_CODE("spit");
constexpr OSType kQTFileTypeWave = FOUR_CHAR_CODE("WAVE");
constexpr OSType kQTFileTypeJPEG = FOUR_CHAR_CODE("JPEG");
constexpr OSType kQTFileTypeMP4 = FOUR_CHAR_CODE("mpg4");

// nullptr when no component of that type and subtype exists.
ComponentInstance OpenDefaultComponent(OSType componentType, OSType componentSubType);
OSErr OpenADefaultComponent(OSType componentType, OSType componentSubType, ComponentInstance* ci);
OSErr CloseComponent(ComponentInstance ci);

// A component open for as long as the holder lives.
class ComponentHold {
 public:
  explicit ComponentHold(ComponentInstance ci = nullptr) : ci_(ci) {}
  ~ComponentHold() {
    if (ci_ != nullptr) CloseComponent(ci_);
  }
  ComponentHold(const ComponentHold&) = delete;
  ComponentHold& operator=(const ComponentHold&) = delete;
  ComponentInstance get() const { return ci_; }

 private:
  ComponentInstance ci_;
};

// Factories of the components this toolbox has; each lives beside its component.
ComponentInstance NewWaveMovieImporter();
ComponentInstance NewJpegGraphicsImporter();
ComponentInstance NewJpegGraphicsExporter();
