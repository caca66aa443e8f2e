#include "display/fourier.h"

#include <bit>
#include <cmath>
#include <numbers>

namespace velkantor::display {

bool IsPowerOfTwo(int x) {
    return x >= 2 && (x & (x - 1)) == 0;
}

int NumberOfBitsNeeded(int power_of_two) {
    auto bits = static_cast<unsigned>(power_of_two);
    for (int i = 0; i <= 16; ++i) {
        if (bits & (1u << i)) return i;
    }
    return 0;
}

int ReverseBits(int index, int num_bits) {
    // Unsigned, so that a negative index or more than 31 bits wrap instead of overflowing.
    auto in = static_cast<unsigned>(index);
    unsigned result = 0;
    for (int i = 0; i < num_bits; ++i) {
        result = result * 2 + (in & 1u);
        in /= 2;
    }
    return static_cast<int>(result);
}

double FrequencyOfIndex(int num_samples, int index) {
    if (num_samples <= 0 || index >= num_samples) return 0;
    if (index <= num_samples / 2) return static_cast<double>(index) / num_samples;
    return -static_cast<double>(num_samples - index) / num_samples;
}

std::string Fourier(int num_samples, const double* real_in, const double* imag_in, double* real_out,
                    double* imag_out, bool inverse) {
    if (!IsPowerOfTwo(num_samples)) {
        return "Error in procedure Fourier:\r\n NumSamples is " + std::to_string(num_samples) +
               ", which is not a positive integer power of two.";
    }
    const auto n = static_cast<size_t>(num_samples);
    // NumberOfBitsNeeded looks at bits 0..16 only; counting the zeros gives the same for
    // every block it covers and stays right for larger ones.
    const int num_bits = std::countr_zero(static_cast<unsigned>(num_samples));
    for (size_t i = 0; i < n; ++i) {
        auto j = static_cast<size_t>(ReverseBits(static_cast<int>(i), num_bits));
        real_out[j] = real_in[i];
        imag_out[j] = imag_in[i];
    }

    const double angle_numerator = inverse ? -2 * std::numbers::pi : 2 * std::numbers::pi;
    size_t block_end = 1;
    for (size_t block_size = 2; block_size <= n; block_size <<= 1) {
        const double delta_angle = angle_numerator / static_cast<double>(block_size);
        const double half_sine = std::sin(delta_angle / 2);
        // alpha = 1 - cos(delta) written so that it keeps its precision for small angles.
        const double alpha = 2 * half_sine * half_sine;
        const double beta = std::sin(delta_angle);
        for (size_t i = 0; i < n; i += block_size) {
            double ar = 1;
            double ai = 0;
            for (size_t j = i; j < i + block_end; ++j) {
                const size_t k = j + block_end;
                const double tr = ar * real_out[k] - ai * imag_out[k];
                const double ti = ai * real_out[k] + ar * imag_out[k];
                real_out[k] = real_out[j] - tr;
                imag_out[k] = imag_out[j] - ti;
                real_out[j] += tr;
                imag_out[j] += ti;
                const double delta = alpha * ar + beta * ai;
                ai -= alpha * ai - beta * ar;
                ar -= delta;
            }
        }
        block_end = block_size;
    }

    if (inverse) {
        const auto denominator = static_cast<double>(num_samples);
        for (size_t i = 0; i < n; ++i) {
            real_out[i] /= denominator;
            imag_out[i] /= denominator;
        }
    }
    return {};
}

}  // namespace velkantor::display
