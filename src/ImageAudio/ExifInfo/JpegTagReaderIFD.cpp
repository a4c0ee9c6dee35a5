// Copying the primary, EXIF and GPS directory values of an open TIFF handle into the record.
// Nothing is read yet.
#include "ImageAudio/ExifInfo/JpegTagReader.h"

void JpegTagReader::readIFDs(TIFF*, UInt32) {}
void JpegTagReader::readMainTags(TIFF*) {}
void JpegTagReader::readExifTags(TIFF*) {}
void JpegTagReader::readGPSTags(TIFF*) {}
