brevalo_bench(review_player_bench DEPS brevalo::recording SOURCES review_player_bench.cpp)
