#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace tt {

// One encoder handover in progress: where video and audio switch to the new encoder and what
// the audio does until the new encoder's audio FIFO is open. Pure: the engine calls it under its
// lock and carries out each step's answer (the pipes and the threads are the engine's). Video past
// the switch frame waits until `lanzado()`.
//
// The audio up to the switch is the old encoder's and the rest the new one's, whatever the order
// of the launch, the FIFO's opening and the audio crossing the switch; an urgent handover switches
// at once (the old encoder's audio ends at the launch). A silent microphone cannot hold the switch
// open: a second after the launch the engine calls `alVencer`.
class Relevo {
public:
    Relevo(std::int64_t cuadro, std::int64_t muestra, bool urgente);

    const std::int64_t cuadro;   // frame index from which video goes to the new encoder
    const std::int64_t muestra;  // sample index at which the audio moves to the new encoder

    // What the engine does after a step, in this order.
    struct Paso {
        std::vector<std::uint8_t> alViejo;  // written to the old encoder's audio
        bool cerrarViejo = false;           // then the old encoder's audio ends
        std::vector<std::uint8_t> alNuevo;  // written to the new encoder's audio FIFO (open)
        bool completo = false;              // the new FIFO is the engine's audio from now on
    };

    // Audio in stream order; `antes`: how many of its bytes precede the switch, when it crosses it.
    Paso audio(std::vector<std::uint8_t> bytes, std::optional<std::size_t> antes);
    Paso alLanzar();  // the new encoder runs and takes the frames
    Paso alAbrir();   // the new encoder opened its audio FIFO
    Paso alVencer();  // a second after the launch
    // The new encoder could not launch: what waited goes back to the old one, which keeps the stream.
    Paso alFallar();

    bool lanzado() const { return lanzado_; }
    // The audio still goes to the old encoder and has not reached the switch yet.
    bool antesDelCorte() const { return !paso_ && !retenido_; }
    // The handover holds the audio (there is somewhere to write it even with no FIFO open).
    bool guardaAudio() const { return paso_ || retenido_; }
    // On a stop: the new FIFO was opened and never took the audio, so the engine closes it.
    bool cerrarNuevoAlParar() const { return abierto_ && !paso_; }

private:
    void pasar(Paso& p);  // the old encoder's audio ends here

    bool lanzado_ = false;
    bool retenido_;        // audio past the switch waits in cola_ until the launch
    bool abierto_ = false;
    bool paso_ = false;    // the audio goes to the new encoder
    std::vector<std::uint8_t> cola_;  // audio for the new encoder, waiting for its FIFO
};

}  // namespace tt
