brevalo_bench(waveform_bench DEPS brevalo::recording PkgConfig::SNDFILE SOURCES waveform_bench.cpp)
