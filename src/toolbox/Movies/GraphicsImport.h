// SPDX-License-Identifier: GPL-2.0-or-later
// Graphics importers (read an image file or block: size, data range, description, drawing)
// and graphics exporters (draw an importer's picture through its matrix into a file or handle).
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

#include "toolbox/Core/MacTypes.h"
#include "toolbox/Files/Files.h"
#include "toolbox/Movies/Components.h"
#include "toolbox/Movies/ImageCompression.h"

using GraphicsImportComponent = ComponentInstance;
using GraphicsExportComponent = ComponentInstance;

// A data reference of type 'hndl' (HandleDataHandlerSubType) is a handle whose block holds
// the handle of the image's bytes.
constexpr OSType kGraphicsHandleDataRefType = FOUR_CHAR_CODE("hndl");

// Opens the importer for the image's format, judged by its content, not its name;
// cantFindHandler when no importer reads it, a file error when it cannot be read.
OSErr GetGraphicsImporterForFile(const FSSpec* theFile, GraphicsImportComponent* gi);
OSErr GetGraphicsImporterForDataRef(Handle dataRef, OSType dataRefType, GraphicsImportComponent* gi);
// The importer for bytes in memory that owner keeps alive: shared, not copied, by the importer
// and by the data it shares on (a picture a conversion made, handed to several importers).
OSErr GetGraphicsImporterForBytes(std::shared_ptr<const void> owner, const std::uint8_t* bytes, std::size_t size,
                                  GraphicsImportComponent* gi);

OSErr GraphicsImportGetNaturalBounds(GraphicsImportComponent ci, Rect* naturalBounds);
// The part of the image that is drawn: the whole image, top and left 0, until set.
OSErr GraphicsImportGetSourceRect(GraphicsImportComponent ci, Rect* sourceRect);
// paramErr unless the rectangle is non-empty and inside the natural bounds.
OSErr GraphicsImportSetSourceRect(GraphicsImportComponent ci, const Rect* sourceRect);
OSErr GraphicsImportGetMatrix(GraphicsImportComponent ci, MatrixRecord* matrix);
OSErr GraphicsImportSetMatrix(GraphicsImportComponent ci, const MatrixRecord* matrix);

// Where the image's compressed data lies in the file or block, and its length.
OSErr GraphicsImportGetDataOffsetAndSize(GraphicsImportComponent ci, unsigned long* offset, unsigned long* size);
// eofErr when the range reaches past the data.
OSErr GraphicsImportReadData(GraphicsImportComponent ci, void* dataPtr, unsigned long dataOffset,
                             unsigned long dataSize);
// The same range without a copy: a pointer block that shares the importer's bytes and keeps
// them alive after the importer is closed; DisposePtr releases it. paramErr for an empty range.
OSErr GraphicsImportShareData(GraphicsImportComponent ci, unsigned long dataOffset, unsigned long dataSize,
                              Ptr* data);
// A new description of the image as stored; the caller disposes of the handle.
OSErr GraphicsImportGetImageDescription(GraphicsImportComponent ci, ImageDescriptionHandle* desc);

// The exported picture is the matrix-mapped source rectangle's bounding box moved to the
// origin, so a translation leaves no margin. Scaling, mirroring and quarter turns are drawn;
// any other matrix answers codecUnimpErr.
OSErr GraphicsExportSetOutputFile(GraphicsExportComponent ci, const FSSpec* theFile);
// Exports into memory instead: the handle is resized to hold exactly the encoded bytes. Setting
// an output file or handle replaces the one set before.
OSErr GraphicsExportSetOutputHandle(GraphicsExportComponent ci, Handle h);
OSErr GraphicsExportSetInputGraphicsImporter(GraphicsExportComponent ci, GraphicsImportComponent grip);
OSErr GraphicsExportSetCompressionQuality(GraphicsExportComponent ci, CodecQ spatialQuality);
// Writes the output file whole or not at all (a failed export leaves it, or the output
// handle, as it was).
OSErr GraphicsExportDoExport(GraphicsExportComponent ci, unsigned long* actualSizeWritten);
