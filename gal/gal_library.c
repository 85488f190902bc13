/* libGAL.so is assembled from the gal archive; this unit only gives the target a source. */
