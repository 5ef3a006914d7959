brevalo_bench(audio_varispeed DEPS brevalo::platform PkgConfig::SAMPLERATE SOURCES audio_varispeed.cpp)
