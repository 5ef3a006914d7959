brevalo_fuzz(waveform_cache_fuzz DEPS brevalo::recording)
