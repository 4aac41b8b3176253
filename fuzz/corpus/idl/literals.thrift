const i64 A = 0x7FFFFFFFFFFFFFFF
const i64 B = -0x8000000000000000
const double C = -2.5E-3
const double D = 1e999
const string E = 'single'
enum F { X = 0x10, Y, Z = -1 }
