brevalo_bench(export_bench DEPS brevalo::export SOURCES export_bench.cpp)
