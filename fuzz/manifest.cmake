brevalo_fuzz(manifest_fuzz DEPS brevalo::capture)
