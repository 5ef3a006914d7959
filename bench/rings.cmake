brevalo_bench(ring_bench DEPS brevalo::core)
