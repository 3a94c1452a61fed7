#pragma once

// The window's fonts are named after faces that Windows has. Where one of them
// is missing and the system would fall back to symbols, a face that draws
// letters of the same kind takes its place.
void useFontSubstitutes();
