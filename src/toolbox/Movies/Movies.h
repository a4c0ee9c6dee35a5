// The movie toolbox: movies, tracks, media, samples, import and flattening into a movie file.
// Movies live in memory; CreateMovieFile and FlattenMovieData write QuickTime files.
#pragma once
#include "toolbox/Core/MacTypes.h"
#include "toolbox/Files/Files.h"
#include "toolbox/Movies/Components.h"
#include "toolbox/Movies/ImageCompression.h"

struct MovieType;
struct TrackType;
struct MediaType;
using Movie = MovieType**;
using Track = TrackType**;
using Media = MediaType**;
using TimeValue = SInt32;
using TimeScale = SInt32;
