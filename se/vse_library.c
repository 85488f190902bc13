/* libvse.so is assembled from the se archive; this unit only gives the target a source. */
