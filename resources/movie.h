// The movie compiled into the executable (resource "SWF", id 101).
#pragma once

enum { RV_RESOURCE_MOVIE_ID = 101 };

const char* Rv_GetMovieData();
unsigned Rv_GetMovieSize();
