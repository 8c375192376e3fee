#include "image/model/rvwords.h"

#include <array>
#include <cctype>
#include <cstdlib>
#include <iterator>
#include <string_view>

namespace rv {

namespace {

constexpr int LanguageRows = 12; // msEnglish .. msUser

std::array<std::string, LanguageRows * RvWordCount>& Table() {
  static std::array<std::string, LanguageRows * RvWordCount> table;
  return table;
}

bool InTable(TMsgLanguage Language, int Word) {
  return Language >= msEnglish && Language <= msUser && Word >= 0 && Word < RvWordCount;
}

std::string& Slot(TMsgLanguage Language, int Word) {
  return Table()[static_cast<std::size_t>((Language - 1) * RvWordCount + Word)];
}

// Rows start at word 0; a row shorter than the table leaves its last words
// to the English fallback.
constexpr const char* English[] = {
  /*   0 */ "Preview", "Original", "Result", "OK", "Cancel", "Lock preview", "Copy Result to Original",
            "Contrast", "Brightness", "Hue",
  /*  10 */ "Saturation", "Value", "Base color", "New color", "Luminosity", "Red", "Green", "Blue",
            "Filter values", "Presets",
  /*  20 */ "Divisor", "Load", "Save", "Equalization", "Threshold", "Equalize", "Histogram", "Gray",
            "Light", "Left",
  /*  30 */ "Top", "Width", "Height", "Color", "Original image quantity", "Lens", "Refraction",
            "Parameters Preview", "Quality", "DCT method",
  /*  40 */ "Smoothing factor", "Gray scale", "Optimal Huffman", "Original size", "Compressed size",
            "Advanced", "Progressive", "Compression", "Image index", "Photometric",
  /*  50 */ "Scanned document info", "Name", "Description", "Page name", "Page number", "of",
            "Horiz. Position (inch)", "Vert. Position (inch)", "Colors", "Transparent",
  /*  60 */ "Transparent color", "Interlaced", "Background", "Horiz. Position", "Vert. Position",
            "Delay time", "Filter", "Wave", "Amplitude", "Wave length",
  /*  70 */ "Phase", "Reflective", "User filter", "Morphing filters", "Window size", "Maximum",
            "Minimum", "Opening", "Closing", "Rotate",
  /*  80 */ "Flip", "Horizontal", "Vertical", "Frequency domain image", "Select the region to clean",
            "Clear", "Reset", "Animate", "Load filter", "Save filter",
  /*  90 */ "Bump map", "Print", "Margins", "inches", "Right", "Bottom", "Position", "Size", "Normal",
            "Fit to page",
  /* 100 */ "Stretch to page", "Specified size", "Gamma correction", "Value", "Print Setup",
            "Left Margin", "Top Margin", "Right Margin", "Bottom Margin", "Location/size",
  /* 110 */ "Top Left", "Top Center", "Top Right", "Center Left", "Center", "Center Right",
            "Bottom Left", "Bottom Center", "Bottom Right", "Close",
  /* 120 */ "Apply", "Measure Units", "Units", "Rate",
};

constexpr const char* Italian[] = {
  /*   0 */ "Anteprima", "Originale", "Elaborata", "OK", "Annulla", "Blocca anteprima",
            "Copia elaborata su originale", "Contrasto", "Luminosità", "Tinta",
  /*  10 */ "Saturazione", "Valore", "Colore base", "Nuovo colore", "Luminanza", "Rosso", "Verde", "Blu",
            "Valori filtro", "Predefiniti",
  /*  20 */ "Divisore", "Carica", "Salva", "Equalizzazione", "Soglia", "Equalizza", "Istogramma",
            "Grigio", "Luce", "Sinistra",
  /*  30 */ "Alto", "Larghezza", "Altezza", "Colore", "Quantità immagine originale", "Lente",
            "Rifrazione", "Anteprima parametri", "Qualità", "Metodo DCT",
  /*  40 */ "Fattore di smussatura", "Scala di grigi", "Huffman ottimizzato", "Dimensione originale",
            "Dimensione compressa", "Avanzate", "Progressivo", "Compressione", "Indice immagine",
            "Fotometrica",
  /*  50 */ "Informazioni documento acquisito", "Nome", "Descrizione", "Nome pagina", "Numero pagina",
            "di", "Posizione orizz. (pollici)", "Posizione vert. (pollici)", "Colori", "Trasparente",
  /*  60 */ "Colore trasparente", "Interlacciato", "Sfondo", "Posizione orizz.", "Posizione vert.",
            "Tempo di ritardo", "Filtro", "Onda", "Ampiezza", "Lunghezza d'onda",
  /*  70 */ "Fase", "Riflessione", "Filtro utente", "Filtri morfologici", "Dimensione finestra",
            "Massimo", "Minimo", "Apertura", "Chiusura", "Ruota",
  /*  80 */ "Rifletti", "Orizzontale", "Verticale", "Immagine nel dominio della frequenza",
            "Seleziona la regione da pulire", "Pulisci", "Ripristina", "Anima", "Carica filtro",
            "Salva filtro",
  /*  90 */ "Mappa di rilievo", "Stampa", "Margini", "pollici", "Destra", "Basso", "Posizione",
            "Dimensione", "Normale", "Adatta alla pagina",
  /* 100 */ "Estendi alla pagina", "Dimensione specificata", "Correzione gamma", "Valore",
            "Imposta stampa", "Margine sinistro", "Margine superiore", "Margine destro",
            "Margine inferiore", "Posizione/dimensione",
  /* 110 */ "In alto a sinistra", "In alto al centro", "In alto a destra", "Al centro a sinistra",
            "Al centro", "Al centro a destra", "In basso a sinistra", "In basso al centro",
            "In basso a destra", "Chiudi",
  /* 120 */ "Applica", "Unità di misura", "Unità", "Frequenza",
};

constexpr const char* German[] = {
  /*   0 */ "Vorschau", "Original", "Ergebnis", "OK", "Abbrechen", "Vorschau sperren",
            "Ergebnis ins Original kopieren", "Kontrast", "Helligkeit", "Farbton",
  /*  10 */ "Sättigung", "Wert", "Grundfarbe", "Neue Farbe", "Luminanz", "Rot", "Grün", "Blau",
            "Filterwerte", "Vorgaben",
  /*  20 */ "Divisor", "Laden", "Speichern", "Ausgleich", "Schwellwert", "Ausgleichen", "Histogramm",
            "Grau", "Licht", "Links",
  /*  30 */ "Oben", "Breite", "Höhe", "Farbe", "Anteil des Originalbildes", "Linse", "Brechung",
            "Parameter Vorschau", "Qualität", "DCT-Methode",
  /*  40 */ "Glättungsfaktor", "Graustufen", "Optimaler Huffman", "Originalgröße", "Komprimierte Größe",
            "Erweitert", "Progressiv", "Kompression", "Bildindex", "Photometrisch",
  /*  50 */ "Info zum gescannten Dokument", "Name", "Beschreibung", "Seitenname", "Seitennummer", "von",
            "Horiz. Position (Zoll)", "Vert. Position (Zoll)", "Farben", "Transparent",
  /*  60 */ "Transparente Farbe", "Interlaced", "Hintergrund", "Horiz. Position", "Vert. Position",
            "Verzögerung", "Filter", "Welle", "Amplitude", "Wellenlänge",
  /*  70 */ "Phase", "Reflektierend", "Benutzerfilter", "Morphologische Filter", "Fenstergröße",
            "Maximum", "Minimum", "Öffnen", "Schließen", "Drehen",
  /*  80 */ "Spiegeln", "Horizontal", "Vertikal", "Bild im Frequenzbereich",
            "Zu bereinigenden Bereich wählen", "Löschen", "Zurücksetzen", "Animieren", "Filter laden",
            "Filter speichern",
  /*  90 */ "Bump-Map", "Drucken", "Ränder", "Zoll", "Rechts", "Unten", "Position", "Größe", "Normal",
            "An Seite anpassen",
  /* 100 */ "Auf Seite strecken", "Angegebene Größe", "Gammakorrektur", "Wert", "Druckeinrichtung",
            "Linker Rand", "Oberer Rand", "Rechter Rand", "Unterer Rand", "Position/Größe",
  /* 110 */ "Oben links", "Oben Mitte", "Oben rechts", "Mitte links", "Mitte", "Mitte rechts",
            "Unten links", "Unten Mitte", "Unten rechts", "Schließen",
  /* 120 */ "Anwenden", "Maßeinheiten", "Einheiten", "Rate",
};

constexpr const char* Spanish[] = {
  /*   0 */ "Vista Previa", "Original", "Resultado", "Aceptar", "Cancelar", "Bloquear vista previa",
            "Copiar resultado al original", "Contraste", "Brillo", "Tono",
  /*  10 */ "Saturación", "Valor", "Color base", "Color nuevo", "Luminosidad", "Rojo", "Verde", "Azul",
            "Valores del filtro", "Predefinidos",
  /*  20 */ "Divisor", "Cargar", "Guardar", "Ecualización", "Umbral", "Ecualizar", "Histograma", "Gris",
            "Luz", "Izquierda",
  /*  30 */ "Arriba", "Ancho", "Alto", "Color", "Cantidad de imagen original", "Lente", "Refracción",
            "", "Calidad", "Método DCT",
  /*  40 */ "Factor de suavizado", "Escala de grises", "Huffman óptimo", "Tamaño original",
            "Tamaño comprimido", "Avanzado", "Progresivo", "Compresión", "Índice de imagen",
            "Fotométrica",
  /*  50 */ "Información del documento escaneado", "Nombre", "Descripción", "Nombre de página",
            "Número de página", "de", "Posición horiz. (pulgadas)", "Posición vert. (pulgadas)",
            "Colores", "Transparente",
  /*  60 */ "Color transparente", "Entrelazado", "Fondo", "Posición horiz.", "Posición vert.",
            "Tiempo de retardo", "Filtro", "Onda", "Amplitud", "Longitud de onda",
  /*  70 */ "Fase", "Reflexivo", "Filtro de usuario", "Filtros morfológicos", "Tamaño de ventana",
            "Máximo", "Mínimo", "Apertura", "Cierre", "Girar",
  /*  80 */ "Voltear", "Horizontal", "Vertical", "Imagen en el dominio de la frecuencia",
            "Seleccione la región a limpiar", "Borrar", "Restablecer", "Animar", "Cargar filtro",
            "Guardar filtro",
  /*  90 */ "Mapa de relieve", "Imprimir", "Márgenes", "pulgadas", "Derecha", "Abajo", "Posición",
            "Tamaño", "Normal", "Ajustar a la página",
  /* 100 */ "Estirar a la página", "Tamaño especificado", "Corrección gamma", "Valor",
            "Configurar impresión", "Margen izquierdo", "Margen superior", "Margen derecho",
            "Margen inferior", "Ubicación/tamaño",
  /* 110 */ "Arriba izquierda", "Arriba centro", "Arriba derecha", "Centro izquierda", "Centro",
            "Centro derecha", "Abajo izquierda", "Abajo centro", "Abajo derecha", "Cerrar",
  /* 120 */ "Aplicar", "Unidades de medida", "Unidades", "Tasa",
};

constexpr const char* French[] = {
  /*   0 */ "Aperçu", "Original", "Résultat", "OK", "Annuler", "Verrouiller l'aperçu",
            "Copier le résultat vers l'original", "Contraste", "Luminosité", "Teinte",
  /*  10 */ "Saturation", "Valeur", "Couleur de base", "Nouvelle couleur", "Luminance", "Rouge", "Vert",
            "Bleu", "Valeurs du filtre", "Préréglages",
  /*  20 */ "Diviseur", "Charger", "Enregistrer", "Égalisation", "Seuil", "Égaliser", "Histogramme",
            "Gris", "Lumière", "Gauche",
  /*  30 */ "Haut", "Largeur", "Hauteur", "Couleur", "Quantité d'image originale", "Lentille",
            "Réfraction", "Aperçu des paramètres", "Qualité", "Méthode DCT",
  /*  40 */ "Facteur de lissage", "Niveaux de gris", "Huffman optimal", "Taille originale",
            "Taille compressée", "Avancé", "Progressif", "Compression", "Index de l'image",
            "Photométrique",
  /*  50 */ "Infos du document numérisé", "Nom", "Description", "Nom de la page", "Numéro de page",
            "sur", "Position horiz. (pouces)", "Position vert. (pouces)", "Couleurs", "Transparent",
  /*  60 */ "Couleur transparente", "Entrelacé", "Arrière-plan", "Position horiz.", "Position vert.",
            "Délai", "Filtre", "Onde", "Amplitude", "Longueur d'onde",
  /*  70 */ "Phase", "Réfléchissant", "Filtre utilisateur", "Filtres morphologiques",
            "Taille de la fenêtre", "Maximum", "Minimum", "Ouverture", "Fermeture", "Rotation",
  /*  80 */ "Retourner", "Horizontal", "Vertical", "Image dans le domaine fréquentiel",
            "Sélectionnez la région à nettoyer", "Effacer", "Réinitialiser", "Animer",
            "Charger le filtre", "Enregistrer le filtre",
  /*  90 */ "Placage de relief", "Imprimer", "Marges", "pouces", "Droite", "Bas", "Position", "Taille",
            "Normal", "Ajuster à la page",
  /* 100 */ "Étirer à la page", "Taille spécifiée", "Correction gamma", "Valeur",
            "Configuration de l'impression", "Marge gauche", "Marge haute", "Marge droite",
            "Marge basse", "Emplacement/taille",
  /* 110 */ "En haut à gauche", "En haut au centre", "En haut à droite", "Au centre à gauche",
            "Centre", "Au centre à droite", "En bas à gauche", "En bas au centre", "En bas à droite",
            "Fermer",
  /* 120 */ "Appliquer", "Unités de mesure", "Unités", "Taux",
};

constexpr const char* Portuguese[] = {
  /*   0 */ "Visualizar", "Original", "Resultado", "OK", "Cancelar", "Bloquear visualização",
            "Copiar resultado para o original", "Contraste", "Brilho", "Matiz",
  /*  10 */ "Saturação", "Valor", "Cor base", "Nova cor", "Luminosidade", "Vermelho", "Verde", "Azul",
            "Valores do filtro", "Predefinições",
  /*  20 */ "Divisor", "Carregar", "Salvar", "Equalização", "Limiar", "Equalizar", "Histograma",
            "Cinza", "Luz", "Esquerda",
  /*  30 */ "Topo", "Largura", "Altura", "Cor", "Quantidade da imagem original", "Lente", "Refração",
            "Visualizar parâmetros", "Qualidade", "Método DCT",
  /*  40 */ "Fator de suavização", "Escala de cinza", "Huffman otimizado", "Tamanho original",
            "Tamanho comprimido", "Avançado", "Progressivo", "Compressão", "Índice da imagem",
            "Fotométrica",
  /*  50 */ "Informações do documento digitalizado", "Nome", "Descrição", "Nome da página",
            "Número da página", "de", "Posição horiz. (polegadas)", "Posição vert. (polegadas)",
            "Cores", "Transparente",
  /*  60 */ "Cor transparente", "Entrelaçado", "Fundo", "Posição horiz.", "Posição vert.",
            "Tempo de espera", "Filtro", "Onda", "Amplitude", "Comprimento de onda",
  /*  70 */ "Fase", "Reflexivo", "Filtro do usuário", "Filtros morfológicos", "Tamanho da janela",
            "Máximo", "Mínimo", "Abertura", "Fechamento", "Girar",
  /*  80 */ "Inverter", "Horizontal", "Vertical", "Imagem no domínio da frequência",
            "Selecione a região a limpar", "Limpar", "Redefinir", "Animar", "Carregar filtro",
            "Salvar filtro",
  /*  90 */ "Mapa de relevo", "Imprimir", "Margens", "polegadas", "Direita", "Base", "Posição",
            "Tamanho", "Normal", "Ajustar à página",
  /* 100 */ "Esticar à página", "Tamanho especificado", "Correção gama", "Valor",
            "Configurar impressão", "Margem esquerda", "Margem superior", "Margem direita",
            "Margem inferior", "Local/tamanho",
  /* 110 */ "Superior esquerdo", "Superior centro", "Superior direito", "Centro esquerdo", "Centro",
            "Centro direito", "Inferior esquerdo", "Inferior centro", "Inferior direito", "Fechar",
  /* 120 */ "Aplicar", "Unidades de medida", "Unidades", "Taxa",
};

constexpr const char* Greek[] = {
  /*   0 */ "Προεπισκόπηση", "Πρωτότυπο", "Αποτέλεσμα", "OK", "Άκυρο", "Κλείδωμα προεπισκόπησης",
            "Αντιγραφή αποτελέσματος στο πρωτότυπο", "Αντίθεση", "Φωτεινότητα", "Απόχρωση",
  /*  10 */ "Κορεσμός", "Τιμή", "Βασικό χρώμα", "Νέο χρώμα", "Λαμπρότητα", "Κόκκινο", "Πράσινο",
            "Μπλε", "Τιμές φίλτρου", "Προεπιλογές",
  /*  20 */ "Διαιρέτης", "Φόρτωση", "Αποθήκευση", "Εξισορρόπηση", "Κατώφλι", "Εξισορρόπησε",
            "Ιστόγραμμα", "Γκρι", "Φως", "Αριστερά",
  /*  30 */ "Πάνω", "Πλάτος", "Ύψος", "Χρώμα", "Ποσότητα αρχικής εικόνας", "Φακός", "Διάθλαση",
            "Προεπισκόπηση παραμέτρων", "Ποιότητα", "Μέθοδος DCT",
  /*  40 */ "Συντελεστής εξομάλυνσης", "Κλίμακα του γκρι", "Βέλτιστος Huffman", "Αρχικό μέγεθος",
            "Συμπιεσμένο μέγεθος", "Για προχωρημένους", "Προοδευτικό", "Συμπίεση", "Δείκτης εικόνας",
            "Φωτομετρικό",
  /*  50 */ "Πληροφορίες σαρωμένου εγγράφου", "Όνομα", "Περιγραφή", "Όνομα σελίδας",
            "Αριθμός σελίδας", "από", "Οριζ. θέση (ίντσες)", "Κατακ. θέση (ίντσες)", "Χρώματα",
            "Διαφανές",
  /*  60 */ "Διαφανές χρώμα", "Πεπλεγμένο", "Φόντο", "Οριζ. θέση", "Κατακ. θέση", "Χρόνος καθυστέρησης",
            "Φίλτρο", "Κύμα", "Εύρος", "Μήκος κύματος",
  /*  70 */ "Φάση", "Ανακλαστικό", "Φίλτρο χρήστη", "Μορφολογικά φίλτρα", "Μέγεθος παραθύρου",
            "Μέγιστο", "Ελάχιστο", "Άνοιγμα", "Κλείσιμο", "Περιστροφή",
  /*  80 */ "Αναστροφή", "Οριζόντια", "Κατακόρυφα", "Εικόνα στο πεδίο συχνοτήτων",
            "Επιλέξτε την περιοχή προς καθαρισμό", "Καθαρισμός", "Επαναφορά", "Κίνηση",
            "Φόρτωση φίλτρου", "Αποθήκευση φίλτρου",
  /*  90 */ "Χάρτης ανάγλυφου", "Εκτύπωση", "Περιθώρια", "ίντσες", "Δεξιά", "Κάτω", "Θέση", "Μέγεθος",
            "Κανονικό", "Προσαρμογή στη σελίδα",
  /* 100 */ "Επέκταση στη σελίδα", "Καθορισμένο μέγεθος", "Διόρθωση γάμμα", "Τιμή",
            "Ρύθμιση εκτύπωσης", "Αριστερό περιθώριο", "Επάνω περιθώριο", "Δεξί περιθώριο",
            "Κάτω περιθώριο", "Θέση/μέγεθος",
  /* 110 */ "Πάνω αριστερά", "Πάνω κέντρο", "Πάνω δεξιά", "Κέντρο αριστερά", "Κέντρο",
            "Κέντρο δεξιά", "Κάτω αριστερά", "Κάτω κέντρο", "Κάτω δεξιά", "Κλείσιμο",
  /* 120 */ "Εφαρμογή", "Μονάδες μέτρησης", "Μονάδες", "Ρυθμός",
};

constexpr const char* Russian[] = {
  /*   0 */ "Просмотр", "Оригинал", "Результат", "OK", "Отмена", "Заблокировать просмотр",
            "Копировать результат в оригинал", "Контраст", "Яркость", "Оттенок",
  /*  10 */ "Насыщенность", "Значение", "Основной цвет", "Новый цвет", "Светимость", "Красный",
            "Зелёный", "Синий", "Значения фильтра", "Предустановки",
  /*  20 */ "Делитель", "Загрузить", "Сохранить", "Выравнивание", "Порог", "Выровнять", "Гистограмма",
            "Серый", "Свет", "Слева",
  /*  30 */ "Сверху", "Ширина", "Высота", "Цвет", "Доля исходного изображения", "Линза", "Преломление",
            "Просмотр параметров", "Качество", "Метод DCT",
  /*  40 */ "Коэффициент сглаживания", "Оттенки серого", "Оптимальный Хаффман", "Исходный размер",
            "Сжатый размер", "Дополнительно", "Прогрессивный", "Сжатие", "Номер изображения",
            "Фотометрия",
  /*  50 */ "Сведения о сканированном документе", "Имя", "Описание", "Имя страницы",
            "Номер страницы", "из", "Гориз. позиция (дюймы)", "Верт. позиция (дюймы)", "Цвета",
            "Прозрачный",
  /*  60 */ "Прозрачный цвет", "Чересстрочный", "Фон", "Гориз. позиция", "Верт. позиция", "Задержка",
            "Фильтр", "Волна", "Амплитуда", "Длина волны",
  /*  70 */ "Фаза", "Отражение", "Пользовательский фильтр", "Морфологические фильтры", "Размер окна",
            "Максимум", "Минимум", "Размыкание", "Замыкание", "Повернуть",
  /*  80 */ "Отразить", "По горизонтали", "По вертикали", "Изображение в частотной области",
            "Выберите область для очистки", "Очистить", "Сброс", "Анимировать", "Загрузить фильтр",
            "Сохранить фильтр",
  /*  90 */ "Карта рельефа", "Печать", "Поля", "дюймы", "Справа", "Снизу", "Позиция", "Размер",
            "Обычный", "По размеру страницы",
  /* 100 */ "Растянуть на страницу", "Заданный размер", "Гамма-коррекция", "Значение",
            "Параметры печати", "Левое поле", "Верхнее поле", "Правое поле", "Нижнее поле",
            "Положение/размер",
  /* 110 */ "Сверху слева", "Сверху по центру", "Сверху справа", "По центру слева", "По центру",
            "По центру справа", "Снизу слева", "Снизу по центру", "Снизу справа", "Закрыть",
  /* 120 */ "Применить", "Единицы измерения", "Единицы", "Частота",
};

constexpr const char* Dutch[] = {
  /*   0 */ "Voorbeeld", "Origineel", "Resultaat", "OK", "Annuleren", "Voorbeeld vergrendelen",
            "Resultaat naar origineel kopiëren", "Contrast", "Helderheid", "Tint",
  /*  10 */ "Verzadiging", "Waarde", "Basiskleur", "Nieuwe kleur", "Lichtsterkte", "Rood", "Groen",
            "Blauw", "Filterwaarden", "Voorinstellingen",
  /*  20 */ "Deler", "Laden", "Opslaan", "Egalisatie", "Drempel", "Egaliseren", "Histogram", "Grijs",
            "Licht", "Links",
  /*  30 */ "Boven", "Breedte", "Hoogte", "Kleur", "Hoeveelheid origineel beeld", "Lens", "Breking",
            "Parameters Voorbeeld", "Kwaliteit", "DCT-methode",
  /*  40 */ "Afvlakfactor", "Grijstinten", "Optimale Huffman", "Originele grootte",
            "Gecomprimeerde grootte", "Geavanceerd", "Progressief", "Compressie", "Afbeeldingsindex",
            "Fotometrisch",
  /*  50 */ "Info gescand document", "Naam", "Beschrijving", "Paginanaam", "Paginanummer", "van",
            "Horiz. positie (inch)", "Vert. positie (inch)", "Kleuren", "Transparant",
  /*  60 */ "Transparante kleur", "Geïnterlinieerd", "Achtergrond", "Horiz. positie", "Vert. positie",
            "Vertragingstijd", "Filter", "Golf", "Amplitude", "Golflengte",
  /*  70 */ "Fase", "Reflecterend", "Gebruikersfilter", "Morfologische filters", "Venstergrootte",
            "Maximum", "Minimum", "Opening", "Sluiting", "Draaien",
  /*  80 */ "Spiegelen", "Horizontaal", "Verticaal", "Beeld in frequentiedomein",
            "Selecteer het te reinigen gebied", "Wissen", "Herstellen", "Animeren", "Filter laden",
            "Filter opslaan",
  /*  90 */ "Reliëfkaart", "Afdrukken", "Marges", "inch", "Rechts", "Onder", "Positie", "Grootte",
            "Normaal", "Passend op pagina",
  /* 100 */ "Uitrekken tot pagina", "Opgegeven grootte", "Gammacorrectie", "Waarde",
            "Afdrukinstelling", "Linkermarge", "Bovenmarge", "Rechtermarge", "Ondermarge",
            "Plaats/grootte",
  /* 110 */ "Linksboven", "Midden boven", "Rechtsboven", "Midden links", "Midden", "Midden rechts",
            "Linksonder", "Midden onder", "Rechtsonder", "Sluiten",
  /* 120 */ "Toepassen", "Maateenheden", "Eenheden", "Snelheid",
};

constexpr const char* Swedish[] = {
  /*   0 */ "Granska", "Original", "Resultat", "OK", "Avbryt", "Lås granskning",
            "Kopiera resultat till original", "Kontrast", "Ljusstyrka", "Nyans",
  /*  10 */ "Mättnad", "Värde", "Grundfärg", "Ny färg", "Luminans", "Röd", "Grön", "Blå",
            "Filtervärden", "Förinställningar",
  /*  20 */ "Divisor", "Läs in", "Spara", "Utjämning", "Tröskel", "Utjämna", "Histogram", "Grå", "Ljus",
            "Vänster",
  /*  30 */ "Överkant", "Bredd", "Höjd", "Färg", "Andel av originalbilden", "Lins", "Brytning",
            "Granskningsparameter", "Kvalitet", "DCT-metod",
  /*  40 */ "Utjämningsfaktor", "Gråskala", "Optimal Huffman", "Originalstorlek", "Komprimerad storlek",
            "Avancerat", "Progressiv", "Komprimering", "Bildindex", "Fotometrisk",
  /*  50 */ "Information om skannat dokument", "Namn", "Beskrivning", "Sidnamn", "Sidnummer", "av",
            "Horis. position (tum)", "Vert. position (tum)", "Färger", "Genomskinlig",
  /*  60 */ "Genomskinlig färg", "Sammanflätad", "Bakgrund", "Horis. position", "Vert. position",
            "Fördröjning", "Filter", "Våg", "Amplitud", "Våglängd",
  /*  70 */ "Fas", "Reflekterande", "Användarfilter", "Morfologiska filter", "Fönsterstorlek",
            "Maximum", "Minimum", "Öppning", "Slutning", "Rotera",
  /*  80 */ "Vänd", "Vågrätt", "Lodrätt", "Bild i frekvensplanet", "Markera området som ska rensas",
            "Rensa", "Återställ", "Animera", "Läs in filter", "Spara filter",
  /*  90 */ "Reliefkarta", "Skriv ut", "Marginaler", "tum", "Höger", "Nederkant", "Position",
            "Storlek", "Normal", "Anpassa till sidan",
  /* 100 */ "Sträck ut till sidan", "Angiven storlek", "Gammakorrigering", "Värde",
            "Utskriftsformat", "Vänstermarginal", "Övre marginal", "Högermarginal", "Nedre marginal",
            "Placering/storlek",
  /* 110 */ "Överst till vänster", "Överst i mitten", "Överst till höger", "Mitten till vänster",
            "Mitten", "Mitten till höger", "Nederst till vänster", "Nederst i mitten",
            "Nederst till höger", "Stäng",
  /* 120 */ "Verkställ", "Måttenheter", "Enheter", "Takt",
};

// Polish captions are written without their accents; the last word has no
// Polish text and shows in English.
constexpr const char* Polish[] = {
  /*   0 */ "Podglad", "Oryginal", "Rezultat", "OK", "Rezygnuj", "Zablokuj podglad",
            "Kopiuj rezultat do oryginalu", "Kontrast", "Jasnosc", "Odcien",
  /*  10 */ "Nasycenie", "Wartosc", "Kolor bazowy", "Nowy kolor", "Luminancja", "Czerwony", "Zielony",
            "Niebieski", "Wartosci filtra", "Ustawienia",
  /*  20 */ "Dzielnik", "Wczytaj", "Zapisz", "Wyrownanie", "Prog", "Wyrownaj", "Histogram", "Szary",
            "Swiatlo", "Lewo",
  /*  30 */ "Gora", "Szerokosc", "Wysokosc", "Kolor", "Udzial oryginalnego obrazu", "Soczewka",
            "Refrakcja", "Parametry podgladu", "Jakosc", "Metoda DCT",
  /*  40 */ "Wspolczynnik wygladzania", "Skala szarosci", "Optymalny Huffman", "Rozmiar oryginalny",
            "Rozmiar po kompresji", "Zaawansowane", "Progresywny", "Kompresja", "Indeks obrazu",
            "Fotometria",
  /*  50 */ "Informacje o zeskanowanym dokumencie", "Nazwa", "Opis", "Nazwa strony", "Numer strony",
            "z", "Poz. pozioma (cale)", "Poz. pionowa (cale)", "Kolory", "Przezroczysty",
  /*  60 */ "Kolor przezroczysty", "Z przeplotem", "Tlo", "Poz. pozioma", "Poz. pionowa", "Opoznienie",
            "Filtr", "Fala", "Amplituda", "Dlugosc fali",
  /*  70 */ "Faza", "Odbicie", "Filtr uzytkownika", "Filtry morfologiczne", "Rozmiar okna", "Maksimum",
            "Minimum", "Otwarcie", "Zamkniecie", "Obroc",
  /*  80 */ "Odwroc", "Poziomo", "Pionowo", "Obraz w dziedzinie czestotliwosci",
            "Zaznacz obszar do wyczyszczenia", "Wyczysc", "Resetuj", "Animuj", "Wczytaj filtr",
            "Zapisz filtr",
  /*  90 */ "Mapa wypuklosci", "Drukuj", "Marginesy", "cale", "Prawo", "Dol", "Pozycja", "Rozmiar",
            "Normalny", "Dopasuj do strony",
  /* 100 */ "Rozciagnij na strone", "Okreslony rozmiar", "Korekcja gamma", "Wartosc",
            "Ustawienia wydruku", "Lewy margines", "Gorny margines", "Prawy margines",
            "Dolny margines", "Polozenie/rozmiar",
  /* 110 */ "Gora lewo", "Gora srodek", "Gora prawo", "Srodek lewo", "Srodek", "Srodek prawo",
            "Dol lewo", "Dol srodek", "Dol prawo", "Zamknij",
  /* 120 */ "Zastosuj", "Jednostki miary", "Jednostki",
};

static_assert(std::size(English) == RvWordCount);
static_assert(std::size(Italian) == RvWordCount);
static_assert(std::size(German) == RvWordCount);
static_assert(std::size(Spanish) == RvWordCount);
static_assert(std::size(French) == RvWordCount);
static_assert(std::size(Portuguese) == RvWordCount);
static_assert(std::size(Greek) == RvWordCount);
static_assert(std::size(Russian) == RvWordCount);
static_assert(std::size(Dutch) == RvWordCount);
static_assert(std::size(Swedish) == RvWordCount);
static_assert(std::size(Polish) == RvWordCount - 1);

void SetSlot(TMsgLanguage Language, int Word, const std::string& Text) {
  if (InTable(Language, Word)) Slot(Language, Word) = Text;
}

template <std::size_t N>
void FillRow(TMsgLanguage Language, const char* const (&Words)[N]) {
  for (std::size_t i = 0; i < N; ++i) SetSlot(Language, static_cast<int>(i), Words[i]);
}

void FillWords() {
  FillRow(msEnglish, English);
  FillRow(msItalian, Italian);
  FillRow(msGerman, German);
  FillRow(msSpanish, Spanish);
  FillRow(msFrench, French);
  FillRow(msPortuguese, Portuguese);
  FillRow(msGreek, Greek);
  FillRow(msRussian, Russian);
  FillRow(msDutch, Dutch);
  FillRow(msSwedish, Swedish);
  FillRow(msPolish, Polish);
}

// Filled on first use, so that no caller depends on the order in which
// static objects start.
void EnsureFilled() {
  static const bool filled = (FillWords(), true);
  (void)filled;
}

// Windows primary language identifiers of the languages with a row.
int PrimaryLanguageOfCode(std::string_view code) {
  struct TLanguageId {
    std::string_view Code;
    int Id;
  };
  static constexpr TLanguageId ids[] = {
      {"de", 7}, {"el", 8}, {"en", 9}, {"es", 10}, {"fr", 12}, {"it", 16},
      {"nl", 19}, {"pl", 21}, {"pt", 22}, {"ru", 25}, {"sv", 29},
  };
  for (const auto& entry : ids)
    if (entry.Code == code) return entry.Id;
  return 0;
}

TMsgLanguage LanguageOfSystem() {
  switch (RvSystemPrimaryLanguage()) {
    case 7: return msGerman;
    case 8: return msGreek;
    case 10: return msSpanish;
    case 12: return msFrench;
    case 16: return msItalian;
    case 19: return msDutch;
    case 22: return msPortuguese;
    case 25: return msRussian;
    default: return msEnglish;
  }
}

} // namespace

void RvSetWord(TMsgLanguage Language, std::uint8_t Word, const std::string& Text) {
  // The table is filled first, so that a word set early is not overwritten.
  EnsureFilled();
  SetSlot(Language, Word, Text);
}

std::string RvWord(std::uint8_t Word, TMsgLanguage Language) {
  EnsureFilled();
  // Every language row has the same 124 words; an index beyond them would
  // read into the next language's row.
  if (Word >= RvWordCount) return std::string();
  if (Language == msSystem) Language = LanguageOfSystem();
  if (!InTable(Language, Word)) return std::string();
  const std::string& text = Slot(Language, Word);
  // A language without a text for a word shows it in English, whether it was
  // asked for by name or through the system locale; an empty caption helps
  // nobody.
  if (text.empty()) return Slot(msEnglish, Word);
  return text;
}

int RvSystemPrimaryLanguage() {
  const char* name = nullptr;
  for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') {
      name = value;
      break;
    }
  }
  if (name == nullptr) return 0;
  // "de_DE.UTF-8", "pt_BR", "el": the language is the leading letters.
  std::string code;
  for (const char* p = name; std::isalpha(static_cast<unsigned char>(*p)); ++p)
    code += static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
  return PrimaryLanguageOfCode(code);
}

} // namespace rv
