struct Café { 1: i32 naïve; 2: i32 x١٢ }
struct é {}
