#include "ui/editor.h"

#include "pantallas/almacen.h"
#include "pantallas/compositor.h"
#include "ui/atajos.h"
#include "ui/boton.h"
#include "ui/campo.h"
#include "ui/deslizador.h"
#include "ui/sitio_ventana.h"
#include "ui/fuente.h"
#include "ui/marca.h"
#include "ui/opciones.h"
#include "ui/pregunta.h"
#include "ui/rejilla.h"
#include "ui/segmentos.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollArea>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace tt {

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }

QLabel* aparte(const QString& texto, QWidget* padre) {
    auto* l = etiqueta(texto, 11.5, Peso::regular, colorSecundario(), padre);
    l->setTextFormat(Qt::PlainText);
    l->setWordWrap(true);
    return l;
}

}  // namespace

namespace {
// The preview: always 16:9, as wide as the window lets it be; drawn again when its size changes.
class Vista169 : public QLabel {
public:
    explicit Vista169(QWidget* padre) : QLabel(padre) {
        QSizePolicy politica(QSizePolicy::Expanding, QSizePolicy::Preferred);
        politica.setHeightForWidth(true);
        setSizePolicy(politica);
        setMinimumWidth(352);  // beside the form, inside the editor's smallest size
    }
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int w) const override { return w * 9 / 16; }
    QSize sizeHint() const override { return {576, 324}; }
    std::function<void()> alCambiarTam;

protected:
    void resizeEvent(QResizeEvent* e) override {
        QLabel::resizeEvent(e);
        if (alCambiarTam) alCambiarTam();
    }
};
}  // namespace

Editor::Editor(const Pantalla& pantalla, Almacen& almacen, QWidget* junto)
    : QWidget(junto, Qt::Window), p(pantalla), almacen(almacen) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle("Editar pantalla");
    cerrarConTeclas(*this);
    setMinimumSize(820, 520);
    // Over the window it edits for, when it fits there whole; else centred on the screen.
    std::optional<QPoint> sobre;
    if (junto) sobre = junto->geometry().center() - QPoint(980 / 2, 720 / 2 + 38);
    ponerEnPantalla(*this, {980, 720}, sobre);

    auto* cuerpo = new QHBoxLayout(this);
    cuerpo->setContentsMargins(22, 22, 22, 22);
    cuerpo->setSpacing(22);
    auto* izquierda = new QVBoxLayout();
    izquierda->setSpacing(10);
    auto* vista = new Vista169(this);
    vista->alCambiarTam = [this] { pintarVista(); };
    foto = vista;
    foto->setAlignment(Qt::AlignCenter);
    foto->setStyleSheet("QLabel { border: 1px solid rgba(255,255,255,26); border-radius: 12px; }");
    nota = aparte({}, this);
    nota->setMaximumWidth(540);
    izquierda->addWidget(foto);
    izquierda->addWidget(nota);
    izquierda->addStretch(1);
    cuerpo->addLayout(izquierda, 1);

    auto* desplazable = new QScrollArea(this);
    desplazable->setFixedWidth(360 + 16);
    desplazable->setWidgetResizable(true);
    desplazable->setFrameShape(QFrame::NoFrame);
    auto* contenido = new QWidget(desplazable);
    columna = new QVBoxLayout(contenido);
    columna->setContentsMargins(0, 0, 16, 0);
    desplazable->setWidget(contenido);
    cuerpo->addWidget(desplazable);

    armarForma();
    reloj = new QTimer(this);
    connect(reloj, &QTimer::timeout, this, [this] {
        if (p.camara != 0) pintar();
    });
    reloj->start(500);
    QTimer::singleShot(0, this, [this] { pintar(); });
}

Editor::~Editor() = default;

void Editor::closeEvent(QCloseEvent* e) {
    reloj->stop();
    if (alCerrar) {
        auto f = std::move(alCerrar);
        alCerrar = nullptr;
        f();
    }
    QWidget::closeEvent(e);
}

QString Editor::notas() const { return nota->text(); }

void Editor::pintarVista() {
    if (vista_.isNull()) return;
    const QSize lugar = (foto->contentsRect().size() * foto->devicePixelRatioF()).boundedTo(QSize(1280, 720));
    QPixmap pm = QPixmap::fromImage(vista_.scaled(lugar, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    pm.setDevicePixelRatio(foto->devicePixelRatioF());
    foto->setPixmap(pm);
}

void Editor::pintar() {
    std::optional<Cuadro> cam;
    if (camara) cam = camara();
    // Composed at the size it shows (typing a title recomposes it on every key).
    const int ancho = std::clamp(int(foto->width() * foto->devicePixelRatioF()), 320, 1280);
    if (auto imagen = Compositor::retrato(p, almacen, ancho, cam)) {
        vista_ = *imagen;
        pintarVista();
    }
    QStringList partes;
    if (p.archivo && p.esVideo)
        partes << QString::fromUtf8("La vista muestra un cuadro quieto del video; el video corre cuando eliges la pantalla.");
    if (p.camara != 0 && !cam) partes << QString::fromUtf8("El gris es donde irá la cámara.");
    partes << (p.micro ? QString::fromUtf8("Micrófono abierto.")
                       : QString::fromUtf8("Micrófono cerrado mientras esté esta pantalla."));
    nota->setText(partes.join(' '));
}

void Editor::cambio(bool rehacer) {
    if (alCambiar) alCambiar(p);
    if (rehacer) armarForma();
    pintar();
}

void Editor::usarArchivo(const std::filesystem::path& archivo, std::function<void(std::optional<std::string>)> hecho) {
    if (copiando_) {
        if (hecho) hecho("Espera a que termine de copiarse el archivo anterior.");
        return;
    }
    copiando_ = true;
    nota->setText(QString::fromUtf8("Revisando el archivo…"));
    QPointer<Editor> yo = this;
    almacen.importarEnFondo(
        archivo, p.id,
        [yo](int porciento) {
            if (yo) yo->nota->setText(QString::fromUtf8("Copiando el archivo… %1 %").arg(porciento));
        },
        [yo, hecho, &almacen = almacen](Almacen::Resultado r) {
            std::optional<std::string> error;
            if (auto* e = std::get_if<std::string>(&r)) error = *e;
            if (!yo && !error) {  // the editor closed meanwhile: nobody will use the copy
                std::error_code ec;
                std::filesystem::remove(almacen.medios() / std::get<Almacen::Copia>(r).nombre, ec);
            }
            if (yo) {
                yo->copiando_ = false;
                if (error) {
                    avisar(yo, "No se pudo usar ese archivo", q(*error));
                    yo->pintar();
                } else {
                    yo->almacen.usar(std::get<Almacen::Copia>(r), yo->p);
                    yo->cambio(true);
                }
            }
            if (hecho) hecho(error);
        });
}

void Editor::elegirArchivo() {
    auto* d = new QFileDialog(this, QString::fromUtf8("Elige el video o la imagen de fondo"));
    d->setFileMode(QFileDialog::ExistingFile);
    d->setNameFilter(QString::fromUtf8("Videos e imágenes (*.mp4 *.mov *.m4v *.mkv *.webm *.avi *.png *.jpg *.jpeg "
                                       "*.gif *.bmp *.webp *.tif *.tiff *.heic)"));
    d->setLabelText(QFileDialog::Accept, "Usar");
    d->setAttribute(Qt::WA_DeleteOnClose);
    d->setWindowModality(Qt::WindowModal);
    connect(d, &QFileDialog::fileSelected, this,
            [this](const QString& ruta) { usarArchivo(std::filesystem::path(ruta.toStdString())); });
    d->open();
}

void Editor::preguntarEliminar() {
    QPointer<Editor> yo = this;
    preguntar(this,
              {q("¿Eliminar «" + p.nombre + "»?"), QString::fromUtf8("Se borra la pantalla y el archivo que le subiste."),
               {"Cancelar", "Eliminar"}, 0, 1, 0},
              [yo](std::optional<int> r) {
                  if (yo && r == 1 && yo->alEliminar) yo->alEliminar();
              });
}

// The form, group by group; each control writes its field and reports the change. Controls that
// show or hide others rebuild the whole form.
void Editor::armarForma() {
    if (forma) {
        forma->hide();
        forma->deleteLater();
    }
    forma = new QWidget(columna->parentWidget());
    auto* grupos = new QVBoxLayout(forma);
    grupos->setContentsMargins(0, 0, 0, 0);
    grupos->setSpacing(22);
    columna->insertWidget(0, forma);

    auto grupo = [&](const char* titulo) {
        auto* g = new QVBoxLayout();
        g->setSpacing(9);
        g->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        g->addWidget(etiqueta(QString::fromUtf8(titulo), 12, Peso::bold, colorSecundario(), forma));
        grupos->addLayout(g);
        return g;
    };
    auto fila = [&](QVBoxLayout* g, const char* rotulo, std::initializer_list<QWidget*> controles, int espacio = 10) {
        auto* f = new QHBoxLayout();
        f->setSpacing(espacio);
        if (rotulo) f->addWidget(etiqueta(QString::fromUtf8(rotulo), 12, Peso::medium, colorSecundario(), forma));
        for (QWidget* c : controles) f->addWidget(c);
        f->addStretch(1);
        g->addLayout(f);
    };
    auto tamYLugar = [&](QVBoxLayout* g, double& tam, int& lugar, double desde, double hasta) {
        auto* d = new Deslizador(tam, desde, hasta, forma);
        d->setMinimumWidth(180);
        d->al = [this, &tam](double v) {
            tam = v;
            cambio();
        };
        auto* r = new Rejilla(lugar, forma);
        r->al = [this, &lugar](int n) {
            lugar = n;
            cambio();
        };
        fila(g, "Tamaño", {d, r}, 12);
    };

    auto* g = grupo("Nombre");
    auto* nombre = new Campo(q(p.nombre), "Nombre de la pantalla", forma);
    nombre->setMinimumWidth(340);
    nombre->al = [this](const QString& t) {
        p.nombre = t.toStdString();
        cambio();
    };
    g->addWidget(nombre);

    g = grupo("Fondo");
    if (!p.archivo) {
        auto* subir = new Boton(QString::fromUtf8("Subir video o imagen…"), "subir", forma);
        subir->al = [this] { elegirArchivo(); };
        g->addWidget(subir);
        g->addWidget(aparte(QString::fromUtf8("Tu video de intro, tu plantilla o cualquier imagen. Sin fondo queda en negro."),
                          forma));
    } else {
        auto* cambiar = new Boton(QString::fromUtf8("Cambiar…"), {}, forma);
        cambiar->al = [this] { elegirArchivo(); };
        auto* quitar = new Boton("Quitar", {}, forma);
        quitar->al = [this] {
            almacen.quitarFondo(p);
            cambio(true);
        };
        fila(g, p.esVideo ? "Video" : "Imagen", {cambiar, quitar});
        auto* encaje = new Segmentos({"Llenar", "Completo"}, p.rellenar ? 0 : 1, forma);
        encaje->al = [this](int i) {
            p.rellenar = i == 0;
            cambio();
        };
        fila(g, "Encaje", {encaje});
        tamYLugar(g, p.fondoTam, p.fondoPos, 0.2, 1);
        if (p.esVideo) {
            auto* fin = new Opciones({"Se repite", QString::fromUtf8("Pasa a la cámara"), QString::fromUtf8("Se queda en el último cuadro")},
                                     std::clamp(p.alTerminar, 0, 2), forma);
            fin->al = [this](int i) {
                p.alTerminar = i;
                cambio();
            };
            fila(g, "Al acabar", {fin});
            auto* volumen = new Deslizador(p.volumen, 0, 1, forma);
            volumen->al = [this](double v) {
                p.volumen = v;
                cambio();
            };
            fila(g, "Sonido", {volumen});
        }
    }

    g = grupo("Cámara");
    auto* cam = new Segmentos({"No se ve", QString::fromUtf8("Detrás"), "En recuadro"}, std::clamp(p.camara, 0, 2), forma);
    cam->al = [this](int i) {
        p.camara = i;
        cambio(true);
    };
    g->addWidget(cam);
    if (p.camara == 2) tamYLugar(g, p.camTam, p.camPos, 0.12, 0.8);
    if (p.camara == 1)
        g->addWidget(aparte(QString::fromUtf8("La cámara llena la imagen y el fondo va encima: sirve con plantillas que "
                                            "tienen transparencia o con un fondo más chico."),
                          forma));

    g = grupo("Texto");
    auto* titulo = new Campo(q(p.titulo), QString::fromUtf8("Título"), forma);
    auto* subtitulo = new Campo(q(p.subtitulo), QString::fromUtf8("Segunda línea"), forma);
    for (Campo* c : {titulo, subtitulo}) c->setMinimumWidth(340);
    titulo->al = [this](const QString& t) {
        p.titulo = t.toStdString();
        cambio();
    };
    subtitulo->al = [this](const QString& t) {
        p.subtitulo = t.toStdString();
        cambio();
    };
    g->addWidget(titulo);
    g->addWidget(subtitulo);
    tamYLugar(g, p.textoTam, p.textoPos, 0, 1);

    g = grupo("Redes sociales");
    QStringList plataformas;
    for (const auto& [clave, rotulo] : tiposDeRed()) plataformas << q(rotulo);
    for (std::size_t i = 0; i < p.redes.size(); ++i) {
        int tipo = 0;
        for (std::size_t k = 0; k < tiposDeRed().size(); ++k)
            if (tiposDeRed()[k].first == p.redes[i].tipo) tipo = int(k);
        auto* cual = new Opciones(plataformas, tipo, forma);
        cual->setFixedWidth(112);
        cual->al = [this, i](int k) {
            if (i >= p.redes.size()) return;
            p.redes[i].tipo = tiposDeRed()[std::size_t(k)].first;
            cambio();
        };
        auto* usuario = new Campo(q(p.redes[i].usuario), "@usuario", forma);
        usuario->al = [this, i](const QString& t) {
            if (i >= p.redes.size()) return;
            p.redes[i].usuario = t.toStdString();
            cambio();
        };
        auto* quitar = new Boton({}, "cerrar", forma);
        quitar->ponerFondo(std::nullopt);
        quitar->setToolTip("Quitar");
        quitar->setAccessibleName("Quitar");
        quitar->al = [this, i] {
            if (i >= p.redes.size()) return;
            p.redes.erase(p.redes.begin() + std::ptrdiff_t(i));
            cambio(true);
        };
        fila(g, nullptr, {cual, usuario, quitar}, 6);
    }
    auto* agregar = new Boton("Agregar red social", "mas", forma);
    agregar->al = [this] {
        Red r;
        r.tipo = tiposDeRed().front().first;
        for (const auto& [clave, rotulo] : tiposDeRed())
            if (std::none_of(p.redes.begin(), p.redes.end(), [&](const Red& x) { return x.tipo == clave; })) {
                r.tipo = clave;
                break;
            }
        p.redes.push_back(r);
        cambio(true);
    };
    g->addWidget(agregar);
    if (!p.redes.empty()) tamYLugar(g, p.redesTam, p.redesPos, 0, 1);
    if (p.redes.size() >= 2) {
        auto* acomodo = new Segmentos({"En fila", "En columna"}, p.redesFila ? 0 : 1, forma);
        acomodo->al = [this](int i) {
            p.redesFila = i == 0;
            cambio();
        };
        fila(g, "Acomodo", {acomodo});
    }

    g = grupo("Sonido");
    auto* micro = new Marca(QString::fromUtf8("Micrófono abierto en esta pantalla"), p.micro, forma);
    micro->al = [this](bool si) {
        p.micro = si;
        cambio();
    };
    g->addWidget(micro);

    g = grupo("Si se cae el internet");
    auto* respaldo = new Marca("Poner esta pantalla", p.sinInternet, forma);
    respaldo->al = [this](bool si) {
        p.sinInternet = si;
        cambio();
    };
    g->addWidget(respaldo);
    g->addWidget(aparte(QString::fromUtf8("Si la computadora se queda sin internet, esta imagen se queda fija en Kick "
                                        "hasta que vuelva. De un video se usa un cuadro y la cámara no se ve."),
                      forma));

    auto* abajo = new QHBoxLayout();
    auto* duplicar = new Boton("Duplicar", "duplicar", forma);
    duplicar->al = [this] {
        if (alDuplicar) alDuplicar();
    };
    abajo->addWidget(duplicar);
    if (p.id != "camara") {
        auto* eliminar = new Boton("Eliminar", "papelera", forma);
        eliminar->tinta = QColor::fromRgbF(1, 0.4f, 0.42f);
        eliminar->al = [this] { preguntarEliminar(); };
        abajo->addWidget(eliminar);
    }
    abajo->addStretch(1);
    grupos->addLayout(abajo);
    grupos->addStretch(1);
}

}  // namespace tt
