// The shared library is assembled from the vorlin_core archive.
