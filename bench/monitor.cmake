brevalo_bench(monitor_bench DEPS brevalo::monitor SOURCES monitor_bench.cpp)
