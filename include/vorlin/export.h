#ifndef VORLIN_EXPORT_H
#define VORLIN_EXPORT_H

// Marks the classes and functions that libvorlin exports; everything else in
// the library is built with hidden visibility.
#if defined(VORLIN_BUILDING_LIBRARY)
#define VORLIN_API __attribute__((visibility("default")))
#else
#define VORLIN_API
#endif

#endif
