brevalo_bench(master_writer_bench DEPS brevalo::recording SOURCES master_writer_bench.cpp)
