brevalo_fuzz(discogs_release_fuzz DEPS brevalo::discogs)
