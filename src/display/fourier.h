#pragma once

#include <string>

// The radix-2 fast Fourier transform of the spectrum display and its index helpers.
namespace velkantor::display {

// True when x is at least 2 and has a single bit set.
bool IsPowerOfTwo(int x);

// The index 0..16 of the lowest set bit of `power_of_two` (log2 of a power of two); 0 when
// none of bits 0..16 is set.
int NumberOfBitsNeeded(int power_of_two);

// `index` with its lowest `num_bits` bits in reverse order (ReverseBits(1, 3) = 4).
int ReverseBits(int index, int num_bits);

// Cycles per sample of output `index` of a `num_samples`-point transform: 0 when index >=
// num_samples, index / num_samples up to num_samples / 2, else -(num_samples - index) /
// num_samples. Multiply by the sample rate for Hz. 0 when num_samples is not positive.
double FrequencyOfIndex(int num_samples, int index);

// Transforms `num_samples` complex values (real_in, imag_in) into (real_out, imag_out):
// X(k) = sum over n of x(n) e^(+2 pi i n k / N), or, with `inverse`, the same with the
// opposite sign divided by N. Radix 2, decimation in time, with one sine pair per pass
// (trigonometric recurrences instead of a sine per butterfly). Each array holds
// num_samples values; the outputs must not overlap the inputs.
//
// Returns the operator's error text when num_samples is not a power of two of at least 2
// (nothing is written then), else an empty text. The core has no dialogs: the caller shows
// the text in a message box titled "Error!".
std::string Fourier(int num_samples, const double* real_in, const double* imag_in, double* real_out,
                    double* imag_out, bool inverse);

}  // namespace velkantor::display
